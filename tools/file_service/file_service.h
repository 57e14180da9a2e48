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
// Anything else is answered 400 with a text that begins with "ERROR".
#pragma once

#include <httplib.h>

#include <filesystem>
#include <string>

struct ReceivedForm;

class FileService {
  public:
    explicit FileService(std::filesystem::path root);

    // Serves the service on every path of `server`.
    void Register(httplib::Server& server);

  private:
    void Handle(const httplib::Request& request, httplib::Response& response,
                const httplib::ContentReader& reader) const;
    void Upload(ReceivedForm& form, httplib::Response& response) const;
    void SendFile(const ReceivedForm& form, bool asAttachment, httplib::Response& response) const;

    std::filesystem::path root_;
};
