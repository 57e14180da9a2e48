// Reads a posted form, urlencoded or multipart, with at most one file part; the file's bytes
// go straight to a staged file instead of memory. A form past one of the limits is refused
// whole, and read to its end all the same, so that the client gets the answer instead of a
// connection reset.
#pragma once

#include <httplib.h>

#include <map>
#include <memory>
#include <string>

#include "service_limits.h"
#include "staged_file.h"
#include "storage_quota.h"

struct ReceivedForm {
    std::map<std::string, std::string> fields;        // text fields; the first of a name counts
    std::string fileField;                            // name of the file part, "" when none came
    std::string fileName;                             // the file part's filename, as sent
    std::unique_ptr<StorageQuota::Reservation> room;  // held until the file is stored
    std::unique_ptr<StagedFile> file;
    int status = 200;   // how a refused form is answered
    std::string error;  // why the form is refused; empty when it was read whole

    void Refuse(int refusalStatus, std::string why);
};

// Reads the request's body within `limits`; a file part is staged in the quota's root, in room
// reserved there.
ReceivedForm ReadForm(const httplib::Request& request, const httplib::ContentReader& reader,
                      const ServiceLimits& limits, StorageQuota& quota);
