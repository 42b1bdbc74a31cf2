#include "jobs.h"

#include <algorithm>

namespace kxtool {

bool gather(const selection &which, finder &f, std::vector<wanted> &out, job_result &job) {
    if (which.devices.empty()) {
        std::vector<target> every;
        if (job.code = f.every(every, job.error); job.code != exit_ok) return false;
        if (every.empty()) {
            job.code = exit_not_found;
            job.error = "no device answered the search";
            return false;
        }
        for (const target &t : every) out.push_back({label(t), t, exit_ok, {}});
        return true;
    }
    for (const std::string &name : which.devices) {
        wanted w{name, {}, exit_ok, {}};
        w.code = f.find(name, w.device, w.error);
        if (w.code == exit_ok) w.name = label(w.device);
        out.push_back(w);
    }
    return true;
}

device_row missing_row(const wanted &w) {
    device_row row;
    row.name = w.name;
    row.code = w.code;
    row.detail = w.error;
    return row;
}

void run_devices(const context &ctx, job_result &job, size_t count,
                 const std::function<std::string(size_t)> &name_of,
                 const std::function<device_row(size_t)> &work) {
    for (size_t i = 0; i < count; ++i) {
        const std::string name = name_of(i);
        if (ctx.stopping()) {
            job.interrupted = true;
            device_row row;
            row.name = name;
            row.code = exit_interrupted;
            row.detail = "interrupted: nothing was sent to it";
            job.rows.push_back(row);
            continue;
        }
        ctx.report({progress::step::device_started, i + 1, count, name, nullptr, 0});
        job.rows.push_back(work(i));
        if (job.rows.back().code == exit_interrupted) job.interrupted = true;
        ctx.report({progress::step::device_done, i + 1, count, name, &job.rows.back(), 0});
    }
}

int batch_code(const job_result &job) {
    if (job.interrupted) return exit_interrupted;
    const bool failed =
        std::any_of(job.rows.begin(), job.rows.end(), [](const device_row &r) { return !r.ok(); });
    if (failed) return exit_failed;
    return job.incomplete ? exit_incomplete : exit_ok;
}

int read_settings(const context &ctx, const target &t, const std::string &password,
                  kx_settings_record &settings, std::string &error) {
    if (ctx.stopping()) {
        error = "interrupted: nothing was sent to " + label(t);
        return exit_interrupted;
    }
    if (error = password_refusal(*family_by_code(t.record.family), password); !error.empty()) {
        error = label(t) + ": " + error + "; nothing was sent to it";
        return exit_refused;
    }
    session s(ctx, t);
    const bool read = s.login(password) && s.read(settings);
    s.close();
    error = s.error();
    return read && error.empty() ? exit_ok : exit_failed;
}

}  // namespace kxtool
