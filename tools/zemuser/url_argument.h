// URLs given on the command line: the library speaks only plain and secure HTTP.
#pragma once

#include <CLI/CLI.hpp>

// Rejects anything but http://HOST... or https://HOST..., naming the expected form.
extern const CLI::Validator kUrlArgument;
