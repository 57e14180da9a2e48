// Reads a posted form, urlencoded or multipart, with at most one file part; the file's bytes
// go straight to a staged file instead of memory.
#pragma once

#include <httplib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "staged_file.h"

struct ReceivedForm {
    std::map<std::string, std::string> fields;  // text fields; the first of a name counts
    std::string fileField;                      // name of the file part, "" when none came
    std::string fileName;                       // the file part's filename, as sent
    std::unique_ptr<StagedFile> file;
    std::string error;  // why the form is refused; empty when it was read whole
};

// Reads the request's body; a file part is staged in `stagingFolder`.
ReceivedForm ReadForm(const httplib::Request& request, const httplib::ContentReader& reader,
                      const std::filesystem::path& stagingFolder);
