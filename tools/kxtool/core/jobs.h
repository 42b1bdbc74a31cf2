// What the core's commands share: finding the devices a job names, and
// running a job device by device with progress and a stop between devices.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core.h"

namespace kxtool {

// One device a job was asked for: found, or why not.
struct wanted {
    std::string name;
    target device;
    int code = exit_ok;
    std::string error;
};

// The devices named, or every one (of the family) when none is. False when
// a search listed nothing, with the job's code and error saying why.
bool gather(const selection &which, finder &f, std::vector<wanted> &out, job_result &job);

// A row for a device that was not found.
device_row missing_row(const wanted &w);

// Runs work(i) for each of count devices in turn, reporting progress with
// name_of(i); once ctx's stop flag is set, each device not yet begun gets a
// row marked interrupted instead.
void run_devices(const context &ctx, job_result &job, size_t count,
                 const std::function<std::string(size_t)> &name_of,
                 const std::function<device_row(size_t)> &work);

// The job's code from its rows: interrupted, any failed, the search
// incomplete, else exit_ok.
int batch_code(const job_result &job);

// Log in, read, log out: exit_ok, or the exit code and why not.
int read_settings(const context &ctx, const target &t, const std::string &password,
                  kx_settings_record &settings, std::string &error);

}  // namespace kxtool
