// How the command line shows the core's results: stdout carries the data
// alone (tables or JSON); failures, warnings, progress and the -v trace go
// to stderr.
#pragma once

#include <string>

#include "core/core.h"
#include "core/site.h"

namespace kxtool::cli {

// "kxtool: " + message on stderr.
void complain(const std::string &message);

// The context's callbacks for the command line: warnings and the trace on
// stderr, batch progress on stderr when it is a terminal; with
// show_blocks, each device's settings as soon as it is read.
void print_to_terminal(context &ctx, bool verbose, bool show_blocks);

// "name = value" for every field, codes as words, no password.
void print_settings(const kx_settings_record &settings);

// The rows of a batch as a table (or a JSON list, with each row's settings
// when with_settings); returns the job's code.
int print_batch(const job_result &job, bool as_json, bool with_settings);

// A single device's job that failed: its text on stderr; returns the code.
int print_failure(const job_result &job);

int print_search(const search_report &report, bool as_json);
int print_doctor(const doctor_report &report);
void print_fields(const family_traits *only);

// The journal and the site's jobs (site_print.cpp).
enum class inventory_format { table, csv, json };
int print_inventory(const std::vector<journal_device> &devices, inventory_format format);
int print_history(const std::vector<journal_change> &changes, bool as_json);
int print_baselines(const std::vector<baseline> &baselines);
int print_check(const baseline &b, const check_report &report, bool as_json);
int print_audit(const audit_report &report, bool as_json);

}  // namespace kxtool::cli
