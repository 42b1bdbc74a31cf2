// kxtool show and save: log in, read, log out; save also to one file each.
#include <filesystem>
#include <map>

#include "jobs.h"

namespace kxtool {

job_result read_devices(const context &ctx, const read_request &request) {
    job_result job;
    job.batch = request.which.batch() || !request.dir.empty();
    if (!request.dir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(request.dir, error);
        if (!std::filesystem::is_directory(request.dir, error)) {
            job.code = exit_refused;
            job.error =
                "--dir " + request.dir + " is not a directory that can be made; nothing was sent";
            return job;
        }
    }
    finder f(ctx, request.which.family);
    if (!job.batch) {
        device_row row;
        row.name = request.which.devices.front();
        target t;
        row.code = f.find(row.name, t, row.detail);
        if (row.code == exit_ok) {
            row.device = t;
            row.name = label(t);
            kx_settings_record settings;
            row.code = read_settings(ctx, t, request.password, settings, row.detail);
            if (row.code == exit_ok) row.settings = settings;
        }
        job.code = row.code;
        job.rows.push_back(row);
        return job;
    }

    std::vector<wanted> devices;
    if (!gather(request.which, f, devices, job)) return job;
    // Backups are named by identifier; a family letter keeps two devices of
    // different families with one identifier apart.
    std::map<std::string, int> same_identifier;
    for (const wanted &w : devices)
        if (w.code == exit_ok) ++same_identifier[identifier_text(w.device.record.device_id)];
    run_devices(
        ctx, job, devices.size(), [&](size_t i) { return devices[i].name; },
        [&](size_t i) {
            const wanted &w = devices[i];
            if (w.code != exit_ok) return missing_row(w);
            device_row row;
            row.name = w.name;
            row.device = w.device;
            const std::string id = identifier_text(w.device.record.device_id);
            const std::string file =
                id +
                (same_identifier[id] > 1 ? std::string("-") + family_letter(w.device.record.family)
                                         : "") +
                ".json";
            const std::string path = (std::filesystem::path(request.dir) / file).string();
            if (!request.dir.empty()) {
                if (row.detail = refused_target(path); !row.detail.empty()) {
                    row.code = exit_failed;
                    row.detail += "; nothing was sent to the device";
                    return row;
                }
            }
            kx_settings_record settings;
            row.code = read_settings(ctx, w.device, request.password, settings, row.detail);
            if (row.code != exit_ok) return row;
            row.settings = settings;
            if (request.dir.empty()) {
                row.detail = "shown";
                return row;
            }
            std::string error;
            if (replace_file(path, settings_json(settings, request.with_password).dump(2) + "\n",
                             request.with_password, error)) {
                row.detail = "saved to " + path;
                row.file = path;
            } else {
                row.code = exit_failed;
                row.detail = error;
            }
            return row;
        });
    job.incomplete = f.incomplete();
    job.code = batch_code(job);
    return job;
}

}  // namespace kxtool
