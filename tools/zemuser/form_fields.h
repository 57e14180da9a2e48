// Form fields given on the command line as name=value.
#pragma once

#include <zemuser.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

// Rejects an argument without "=" or with an empty name.
extern const CLI::Validator kFieldArgument;

// Splits each argument at its first "="; a later argument replaces an earlier one of the
// same name, since a form carries each name once.
PostFields ParseFieldArguments(const std::vector<std::string>& arguments);

// The bytes of the names and values: about what a post sends, for the progress line.
std::uintmax_t FieldsSize(const PostFields& fields);
