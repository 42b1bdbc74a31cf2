#include "api.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "core/addresses.h"
#include "core/journal.h"

namespace kxtool::console {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// A request the page never sends (a missing or mistyped member, a value no
// device takes): 400, and nothing sent.
struct bad_request {
    std::string why;
};

// Device texts may hold any byte; they go out as U+FFFD rather than fail.
template <typename Json>
void reply(httplib::Response &res, int status, const Json &body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

json body_of(const httplib::Request &req) {
    json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object())
        throw bad_request{"the body must be a JSON object"};
    return body;
}

std::string text_of(const json &body, const char *key, bool required = false) {
    if (!body.contains(key)) {
        if (required) throw bad_request{std::string(key) + " is missing"};
        return {};
    }
    if (!body[key].is_string()) throw bad_request{std::string(key) + " must be a text"};
    return body[key].get<std::string>();
}

bool flag_of(const json &body, const char *key) {
    if (!body.contains(key)) return false;
    if (!body[key].is_boolean()) throw bad_request{std::string(key) + " must be true or false"};
    return body[key].get<bool>();
}

std::string device_of(const json &body, const char *key = "device") {
    const std::string device = text_of(body, key, true);
    if (std::string why = device_text_refusal(device); !why.empty()) throw bad_request{why};
    return device;
}

const family_traits *family_of(const json &body) {
    const std::string letter = text_of(body, "family");
    if (letter.empty()) return nullptr;
    const family_traits *family = family_by_letter(letter);
    if (family == nullptr) throw bad_request{"family must be " + kxtools::family_choices()};
    return family;
}

std::vector<std::string> devices_of(const json &body) {
    if (!body.contains("devices") || !body["devices"].is_array() || body["devices"].empty())
        throw bad_request{"devices must be a list of addresses or identifiers: choose devices"};
    std::vector<std::string> devices;
    for (const json &item : body["devices"]) {
        if (!item.is_string()) throw bad_request{"devices must be texts"};
        if (std::string why = device_text_refusal(item.get<std::string>()); !why.empty())
            throw bad_request{why};
        devices.push_back(item.get<std::string>());
    }
    return devices;
}

std::vector<std::string> texts_of(const json &body, const char *key) {
    std::vector<std::string> texts;
    if (!body.contains(key)) return texts;
    const std::string why = std::string(key) + " must be a list of texts";
    if (!body[key].is_array()) throw bad_request{why};
    for (const json &item : body[key]) {
        if (!item.is_string()) throw bad_request{why};
        texts.push_back(item.get<std::string>());
    }
    return texts;
}

// Where a search looks beyond a router: ranges, targets and rate as
// --range, --target and --rate take them.
search_plan plan_of(const json &body, const context &base) {
    std::optional<int64_t> rate;
    if (body.contains("rate")) {
        const json &given = body["rate"];
        if (!given.is_number_integer()) throw bad_request{"rate must be a whole number"};
        rate = given.is_number_unsigned()
                   ? static_cast<int64_t>(std::min<uint64_t>(given.get<uint64_t>(), INT64_MAX))
                   : given.get<int64_t>();
    }
    search_plan plan;
    if (std::string why = make_search_plan(texts_of(body, "ranges"), texts_of(body, "targets"),
                                           rate, base.keeps_to_one_adapter(), plan);
        !why.empty())
        throw bad_request{why};
    return plan;
}

// The password goes with the request that needs it, and no further.
struct password_given {
    std::string text;
    bool given = false;
};
password_given password_of(const json &body) {
    password_given p;
    p.given = body.contains("password");
    p.text = text_of(body, "password");
    if (std::string why = password_text_refusal(p.text); !why.empty()) throw bad_request{why};
    return p;
}

ordered_json row_detail(const device_row &r) {
    ordered_json row = row_json(r, true);
    row["code"] = r.code;
    if (r.settings) {
        ordered_json text = ordered_json::object();
        for (const field &f : settings_fields()) text[f.name] = value_text(*r.settings, f);
        row["text"] = text;
    }
    if (!r.differences.empty()) {
        row["differences"] = ordered_json::array();
        for (const difference &d : r.differences)
            row["differences"].push_back({{"field", d.field},
                                          {"before", d.before},
                                          {"after", d.after},
                                          {"secret", d.secret}});
    }
    if (!r.left_alone.empty()) row["left_alone"] = r.left_alone;
    return row;
}

ordered_json job_json(const job_result &job) {
    ordered_json result{{"code", job.code}, {"ok", job.code == exit_ok}};
    if (!job.error.empty()) result["error"] = job.error;
    if (job.incomplete) result["incomplete"] = true;
    if (job.interrupted) result["interrupted"] = true;
    result["rows"] = ordered_json::array();
    for (const device_row &r : job.rows) result["rows"].push_back(row_detail(r));
    return result;
}

// A refusal before anything was sent, shaped as a job's result.
ordered_json refused(const std::string &why) {
    return {{"code", exit_refused},
            {"ok", false},
            {"error", why + "; nothing was sent"},
            {"rows", ordered_json::array()}};
}

ordered_json progress_json(const progress &p) {
    static constexpr const char *steps[] = {"search_started", "search_done",    "device_started",
                                            "device_done",    "device_checked", "sweep_asked"};
    // One name per step: a step added without one would be read past the end.
    static_assert(std::size(steps) == static_cast<size_t>(progress::step::sweep_asked) + 1);
    ordered_json event{{"step", steps[static_cast<int>(p.what)]}};
    if (p.what == progress::step::search_done || p.what == progress::step::sweep_asked)
        event["found"] = p.found;
    if (p.total > 0) {
        event["index"] = p.index;
        event["total"] = p.total;
        event["name"] = p.name;
    }
    if (p.row != nullptr) {
        ordered_json row = row_json(*p.row, false);
        row["code"] = p.row->code;
        event["row"] = row;
    }
    return event;
}

// Runs one job of the core, when no other runs (else 409, and false); its
// progress and warnings go to the event stream as well as into result.
bool run_job(console_state &st, httplib::Response &res, const std::string &what,
             const std::function<ordered_json(const context &)> &work, ordered_json &result) {
    std::string busy;
    if (!st.slot.take(what, busy)) {
        reply(res, 409, json{{"error", busy}});
        return false;
    }
    struct release {
        job_slot &slot;
        ~release() { slot.release(); }
    } on_end{st.slot};
    context ctx = st.base;
    ctx.stop = &st.slot.stop_flag();
    ctx.watch = &st.memory;
    std::vector<std::string> warnings;
    ctx.on_warning = [&](const std::string &text) {
        warnings.push_back(text);
        st.hub.publish("warning", {{"text", text}});
    };
    ctx.on_progress = [&](const progress &p) { st.hub.publish("progress", progress_json(p)); };
    if (st.verbose)
        ctx.on_trace = [](const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    st.hub.publish("job", {{"state", "started"}, {"job", what}});
    result = work(ctx);
    result["warnings"] = warnings;
    st.hub.publish("job", {{"state", "done"}, {"job", what}, {"code", result["code"]}});
    return true;
}

void run_and_reply(console_state &st, httplib::Response &res, const std::string &what,
                   const std::function<ordered_json(const context &)> &work) {
    ordered_json result;
    if (run_job(st, res, what, work, result)) reply(res, 200, result);
}

ordered_json search_job(console_state &st, const context &ctx) {
    const search_report report = search_devices(ctx);
    ordered_json devices = ordered_json::array();
    for (const search_entry &e : report.devices) devices.push_back(search_entry_json(e));
    // A search that failed (the port taken) leaves the last list as it was.
    if (report.code != exit_failed || !report.devices.empty()) {
        std::lock_guard lock(st.search_mutex);
        st.latest_search = devices;
    }
    ordered_json result{{"code", report.code}, {"ok", report.code == exit_ok}};
    if (!report.problem.empty()) result["problem"] = report.problem;
    if (report.incomplete) result["incomplete"] = true;
    result["devices"] = devices;
    return result;
}

ordered_json fields_json() {
    ordered_json families = ordered_json::array();
    for (const family_traits &family : kxtools::families())
        families.push_back({{"code", family.code}, {"letter", family.letter}});
    ordered_json list = ordered_json::array();
    for (const field &f : settings_fields()) {
        ordered_json takes = ordered_json::object(), words = ordered_json::object();
        for (const family_traits &family : kxtools::families()) {
            takes[family.letter] = field_takes(f, family);
            words[family.letter] = ordered_json::array();
            for (const word &w : field_words(f, family)) words[family.letter].push_back(w.text);
        }
        const std::string notes = field_notes(f);
        list.push_back({{"name", f.name},
                        {"unit", f.unit},
                        {"meaning", f.meaning},
                        {"notes", notes.empty() ? notes : notes.substr(2)},  // past "; "
                        {"writable", f.writable},
                        {"identity", f.identity},
                        {"secret", f.secret},
                        {"takes", takes},
                        {"words", words}});
    }
    return {{"families", families}, {"fields", list}};
}

// The event stream: a hello with the job under way, then every event, and a
// comment when nothing happened for a while (a page that went away is
// found when writing to it fails).
void event_stream(console_state &st, httplib::Response &res) {
    const std::string hello =
        "event: hello\ndata: " + json{{"job", st.slot.running()}}.dump() + "\n\n";
    uint64_t seen = st.hub.latest();
    bool greeted = false;
    res.set_chunked_content_provider(
        "text/event-stream", [&st, hello, seen, greeted](size_t, httplib::DataSink &sink) mutable {
            if (!greeted) {
                greeted = true;
                return sink.write(hello.data(), hello.size());
            }
            std::string text = st.hub.next(seen, std::chrono::seconds(10));
            if (st.hub.closed()) {
                sink.done();
                return true;
            }
            if (text.empty()) text = ": idle\n\n";
            return sink.write(text.data(), text.size());
        });
}

}  // namespace

void site_memory::remember(const kx_device_record &device, const kx_settings_record &settings) {
    json serial = json::object();
    for (const char *name : {"baud_rate", "parity", "data_bits"})
        serial[name] = value_text(settings, *find_field(name));
    std::lock_guard lock(mutex_);
    known_[std::to_string(device.family) + " " + identifier_text(device.device_id)] = serial;
}

void site_memory::search_finished(std::span<const kx_device_record> devices, bool complete) {
    if (next != nullptr) next->search_finished(devices, complete);
}

void site_memory::settings_read(const target &device, const kx_settings_record &settings) {
    remember(device.record, settings);
    if (next != nullptr) next->settings_read(device, settings);
}

void site_memory::change_written(const target &device, std::string_view command,
                                 const kx_settings_record *before, const kx_settings_record *after,
                                 int code, const std::string &detail) {
    if (after != nullptr) remember(device.record, *after);
    if (next != nullptr) next->change_written(device, command, before, after, code, detail);
}

json site_memory::known() {
    std::lock_guard lock(mutex_);
    return known_;
}

void add_api(httplib::Server &server, console_state &state) {
    console_state &st = state;
    // Every handler that reads a body: a malformed one is answered 400.
    using handler = std::function<void(const httplib::Request &, httplib::Response &)>;
    auto checked = [](handler work) {
        return [work](const httplib::Request &req, httplib::Response &res) {
            try {
                work(req, res);
            } catch (const bad_request &e) {
                reply(res, 400, json{{"error", e.why + "; nothing was sent"}});
            }
        };
    };

    server.Get("/api/devices", [&st](const httplib::Request &, httplib::Response &res) {
        {
            std::lock_guard lock(st.search_mutex);
            if (st.latest_search) return reply(res, 200, *st.latest_search);
        }
        ordered_json result;
        if (!run_job(
                st, res, "a search", [&](const context &ctx) { return search_job(st, ctx); },
                result))
            return;
        if (result["code"] == exit_failed && result["devices"].empty())
            return reply(res, 503, json{{"error", result["problem"]}});
        reply(res, 200, result["devices"]);
    });
    // The journal's records, read through a connection of their own, so that
    // a job recording at the same time never shares one with them.
    auto journal_read = [&st](httplib::Response &res,
                              const std::function<ordered_json(journal &)> &read) {
        if (st.journal_path.empty())
            return reply(res, 404,
                         json{{"error", "no journal: kxtool serve runs with --no-journal"}});
        std::string error;
        const std::unique_ptr<journal> j =
            journal::open(st.journal_path, journal::mode::existing, error);
        if (!j) return reply(res, 503, json{{"error", error}});
        const ordered_json list = read(*j);
        if (!j->error().empty()) return reply(res, 503, json{{"error", j->error()}});
        reply(res, 200, list);
    };
    server.Get("/api/inventory", [journal_read](const httplib::Request &, httplib::Response &res) {
        journal_read(res, [](journal &j) {
            ordered_json list = ordered_json::array();
            for (const journal_device &d : j.inventory()) list.push_back(journal_device_json(d));
            return list;
        });
    });
    server.Get("/api/history", [journal_read](const httplib::Request &req, httplib::Response &res) {
        const std::string device = req.get_param_value("device");
        journal_read(res, [&](journal &j) {
            ordered_json list = ordered_json::array();
            for (const journal_change &c : j.history(device, 0, 500))
                list.push_back(journal_change_json(c));
            return list;
        });
    });
    server.Get("/api/known", [&st](const httplib::Request &, httplib::Response &res) {
        reply(res, 200, st.memory.known());
    });
    server.Get("/api/fields",
               [fields = fields_json()](const httplib::Request &, httplib::Response &res) {
                   reply(res, 200, fields);
               });

    server.Post("/api/search", checked([&st](const httplib::Request &req, httplib::Response &res) {
                    const search_plan plan = plan_of(body_of(req), st.base);
                    run_and_reply(st, res, "a search", [&](const context &ctx) {
                        context planned = ctx;
                        planned.plan = plan;
                        return search_job(st, planned);
                    });
                }));
    server.Post("/api/read", checked([&st](const httplib::Request &req, httplib::Response &res) {
                    const json body = body_of(req);
                    const read_request request{
                        {{device_of(body)}, false, family_of(body)}, password_of(body).text, {}};
                    run_and_reply(
                        st, res, "a read of " + request.which.devices.front(),
                        [&](const context &ctx) {
                            const job_result job = read_devices(ctx, request);
                            ordered_json result = job_json(job);
                            // What kxtool save prints, for the page's download.
                            if (job.code == exit_ok)
                                result["rows"][0]["backup"] =
                                    settings_json(*job.rows.front().settings, false).dump(2) + "\n";
                            return result;
                        });
                }));
    server.Post(
        "/api/set", checked([&st](const httplib::Request &req, httplib::Response &res) {
            const json body = body_of(req);
            set_request request{
                device_of(body),        family_of(body),          {},
                password_of(body).text, flag_of(body, "dry_run"), flag_of(body, "force")};
            if (!body.contains("changes") || !body["changes"].is_object())
                throw bad_request{"changes must be an object of field names and values"};
            for (const auto &[name, value] : body["changes"].items()) {
                const std::string text =
                    value.is_string() ? value.get<std::string>() : value.dump();
                if (std::string error; !parse_assignment(name + "=" + text, request.changes, error))
                    return reply(res, 200, refused(error));
            }
            if (request.changes.empty()) return reply(res, 200, refused("no change given"));
            run_and_reply(st, res,
                          (request.dry_run ? "a preview of " : "a change of ") + request.device,
                          [&](const context &ctx) { return job_json(set_settings(ctx, request)); });
        }));
    server.Post(
        "/api/restore", checked([&st](const httplib::Request &req, httplib::Response &res) {
            const json body = body_of(req);
            restore_request request;
            request.device = device_of(body);
            request.family = family_of(body);
            if (!body.contains("backup") || !body["backup"].is_object())
                throw bad_request{"backup must be the settings object a save wrote"};
            request.backup = body["backup"];
            request.source = text_of(body, "source");
            if (request.source.empty()) request.source = "the file";
            request.clone = flag_of(body, "clone");
            if (body.contains("set")) {
                if (!body["set"].is_array()) throw bad_request{"set must be a list of field names"};
                for (const json &name : body["set"]) {
                    if (!name.is_string()) throw bad_request{"set must be a list of field names"};
                    request.set.push_back(name.get<std::string>());
                }
            }
            request.password = password_of(body).text;
            request.dry_run = flag_of(body, "dry_run");
            request.force = flag_of(body, "force");
            run_and_reply(
                st, res, (request.dry_run ? "a preview of " : "a restore of ") + request.device,
                [&](const context &ctx) { return job_json(restore_settings(ctx, request)); });
        }));

    server.Post(
        "/api/batch/read", checked([&st](const httplib::Request &req, httplib::Response &res) {
            const json body = body_of(req);
            const read_request request{
                {devices_of(body), false, family_of(body)}, password_of(body).text, {}};
            run_and_reply(st, res, "a read of several devices",
                          [&](const context &ctx) { return job_json(read_devices(ctx, request)); });
        }));
    server.Post(
        "/api/batch/quick", checked([&st](const httplib::Request &req, httplib::Response &res) {
            const json body = body_of(req);
            quick_request request;
            request.setting = text_of(body, "setting", true);
            if (request.setting != "baud" && request.setting != "parity" &&
                request.setting != "databits")
                throw bad_request{"setting must be baud, parity or databits"};
            request.value = text_of(body, "value", true);
            request.which = {devices_of(body), false, family_of(body)};
            const password_given password = password_of(body);
            request.password = password.text;
            request.password_given = password.given;
            const field &f = quick_field(request.setting);
            if (std::string why = refusal(f, typed_value(f, request.value), nullptr); !why.empty())
                return reply(res, 200, refused(request.setting + " " + request.value + ": " + why));
            run_and_reply(
                st, res, "a " + request.setting + " setting of several devices",
                [&](const context &ctx) { return job_json(quick_setting(ctx, request)); });
        }));
    server.Post(
        "/api/batch/apply", checked([&st](const httplib::Request &req, httplib::Response &res) {
            const json body = body_of(req);
            if (!body.contains("settings") || !body["settings"].is_object())
                throw bad_request{"settings must be the settings object a save wrote"};
            apply_request request;
            // A saved file onto each device: another device's backup is cloned,
            // so identity fields stay each device's own.
            request.entries = json::array();
            for (const std::string &device : devices_of(body))
                request.entries.push_back(
                    {{"device", device}, {"settings", body["settings"]}, {"clone", true}});
            request.source = text_of(body, "source");
            if (request.source.empty()) request.source = "the settings file";
            request.password = password_of(body).text;
            request.dry_run = flag_of(body, "dry_run");
            request.force = flag_of(body, "force");
            run_and_reply(st, res, "a settings file onto several devices", [&](const context &ctx) {
                return job_json(apply_settings(ctx, request));
            });
        }));

    server.Post("/api/doctor", checked([&st](const httplib::Request &req, httplib::Response &res) {
                    body_of(req);
                    run_and_reply(st, res, "the doctor's checks", [](const context &ctx) {
                        const doctor_report report = diagnose(ctx);
                        return ordered_json{{"code", report.problem ? exit_failed : exit_ok},
                                            {"problem", report.problem},
                                            {"lines", doctor_lines(report)}};
                    });
                }));
    server.Post("/api/stop", checked([&st](const httplib::Request &req, httplib::Response &res) {
                    body_of(req);
                    const std::string job = st.slot.running();
                    reply(res, 200, json{{"stopping", st.slot.stop()}, {"job", job}});
                }));
    server.Post("/api/events", checked([&st](const httplib::Request &req, httplib::Response &res) {
                    body_of(req);
                    event_stream(st, res);
                }));
}

}  // namespace kxtool::console
