// The file service of a conference server, for trying out and testing the library against:
// files are kept per session identifier under one root folder.
//
//   download  urlencoded or multipart POST x=kivStuff act=download session_id filename
//             -> 200 with the file's bytes, 404 when there is no such file
//   upload    multipart POST x=kivStuff act=upload session_id file_num=1 file1=<file>
//             -> stored under the file part's base name, 200 "OK"
//   fetch     urlencoded or multipart POST act=fetch session_id filename
//             -> as download, with Content-Disposition: attachment; filename="<name>"
//
// Anything else is answered 400 with a text that begins with "ERROR"; so are requests past a
// limit (413, or 507 when the root has no room left) and, when a token is required, requests
// without it (403). A refused request stores nothing.
#pragma once

#include <httplib.h>

#include <filesystem>
#include <string>

#include "access_token.h"
#include "service_limits.h"
#include "storage_quota.h"

struct ReceivedForm;

class FileService {
  public:
    FileService(std::filesystem::path root, const ServiceLimits& limits, AccessToken token);

    // Serves the service on every path of `server`.
    void Register(httplib::Server& server);

  private:
    void Handle(const httplib::Request& request, httplib::Response& response,
                const httplib::ContentReader& reader);
    void Upload(ReceivedForm& form, httplib::Response& response);
    void SendFile(const ReceivedForm& form, bool asAttachment, httplib::Response& response) const;

    const std::filesystem::path root_;
    const ServiceLimits limits_;
    const AccessToken token_;
    StorageQuota quota_;
};
