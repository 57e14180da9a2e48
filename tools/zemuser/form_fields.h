// Form fields given on the command line as name=value.
#pragma once

#include <zemuser.h>

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

// Rejects an argument without "=" or with an empty name.
extern const CLI::Validator kFieldArgument;

// Splits each argument at its first "="; a later argument replaces an earlier one of the
// same name, since a form carries each name once.
PostFields ParseFieldArguments(const std::vector<std::string>& arguments);
