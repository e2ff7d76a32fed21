// The printer application's authentication callback. PAPPL 1.3 asks it for every
// administration check (with the administrators' group) and every printing check (with
// the printer's print group, none by default); a request's texts are tidied and its
// document format checked here too, because it is the one place that sees a Print-Job or
// Create-Job before PAPPL keeps it.
#include "tools/printer_app/access.h"

#include <grp.h>
#include <pwd.h>
#include <strings.h>
#include <security/pam_appl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/text_encoding.h"
#include "tools/cups/cups_options.h"
#include "tools/printer_app/secrets.h"

namespace velmora::printer_app {
namespace {

// A failed sign-in waits this long, which makes guessing passwords slow.
constexpr auto kFailureDelay = std::chrono::seconds(1);

// The user name and password of an HTTP Basic Authorization header.
struct Credentials {
  std::string user;
  std::string password;
  ~Credentials() { std::fill(password.begin(), password.end(), '\0'); }
};

bool ReadBasic(pappl_client_t* client, Credentials& credentials) {
  const char* header = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
  if (header == nullptr || std::strncmp(header, "Basic ", 6) != 0) return false;
  header += 6;
  while (*header == ' ') ++header;
  std::vector<char> decoded(std::strlen(header) + 4, '\0');
  int length = static_cast<int>(decoded.size());
  httpDecode64_2(decoded.data(), &length, header);
  const std::string text(decoded.data(), static_cast<std::size_t>(std::max(length, 0)));
  std::fill(decoded.begin(), decoded.end(), '\0');
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  credentials.user = text.substr(0, colon);
  credentials.password = text.substr(colon + 1);
  return true;
}

// PAM's conversation: the password for a hidden prompt, nothing for anything else.
int Converse(int count, const pam_message** messages, pam_response** responses, void* data) {
  if (count <= 0) return PAM_CONV_ERR;
  auto* answers = static_cast<pam_response*>(std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
  if (answers == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF) {
      answers[i].resp = ::strdup(static_cast<const Credentials*>(data)->password.c_str());
    }
  }
  *responses = answers;
  return PAM_SUCCESS;
}

// True when PAM takes the user's password and lets the account in.
bool PamAccepts(const std::string& service, const Credentials& credentials) {
  pam_conv conversation{Converse, const_cast<Credentials*>(&credentials)};
  pam_handle_t* handle = nullptr;
  if (pam_start(service.c_str(), credentials.user.c_str(), &conversation, &handle) != PAM_SUCCESS) return false;
  int status = pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(handle, PAM_SILENT);
  pam_end(handle, status);
  return status == PAM_SUCCESS;
}

bool InGroup(const std::string& user, const std::string& group) {
  std::vector<char> buffer(16384);
  passwd account{};
  passwd* found = nullptr;
  if (getpwnam_r(user.c_str(), &account, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return false;
  const gid_t primary = account.pw_gid;
  std::vector<char> groupBuffer(16384);
  ::group entry{};
  ::group* groupFound = nullptr;
  if (getgrnam_r(group.c_str(), &entry, groupBuffer.data(), groupBuffer.size(), &groupFound) != 0 ||
      groupFound == nullptr) {
    return false;
  }
  std::vector<gid_t> groups(64);
  int count = static_cast<int>(groups.size());
  if (getgrouplist(user.c_str(), primary, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(user.c_str(), primary, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), entry.gr_gid) != groups.end();
}

class Access {
 public:
  explicit Access(AccessPolicy policy) : policy_(std::move(policy)) {}

  http_status_t Authorize(pappl_client_t* client, const char* group) {
    // PAPPL asks with its administrators' group for administration and with the
    // printer's print group (none) for printing. Without an administrators' group the two
    // cannot be told apart, and everything is an administrator's.
    char adminGroup[256] = "";
    papplSystemGetAdminGroup(papplClientGetSystem(client), adminGroup, sizeof adminGroup);
    const bool adminCheck = adminGroup[0] == '\0' || (group != nullptr && std::strcmp(group, adminGroup) == 0);
    if (adminCheck) return AdminStatus(client);
    ipp_t* request = papplClientGetRequest(client);
    if (request == nullptr) return HTTP_STATUS_CONTINUE;
    // PAPPL 1.3 lets anyone who may print disable and enable a printer, and cancel the job
    // it is printing, whoever's it is: those are an administrator's.
    switch (ippGetOperation(request)) {
      case IPP_OP_DISABLE_PRINTER:
      case IPP_OP_ENABLE_PRINTER:
      case IPP_OP_CANCEL_CURRENT_JOB: return AdminStatus(client);
      default: break;
    }
    TidyRequest(client, request);
    RefuseUnprintedFormat(client, request);
    RefuseCompression(client, request);
    RefuseContentEncoding(client, request);
    if (AsksForOverlayCapture(request)) {
      const http_status_t admin = AdminStatus(client);
      if (admin != HTTP_STATUS_CONTINUE) {
        papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                       "Refused overlay-mode=create from a client that is no administrator.");
        return admin == HTTP_STATUS_UNAUTHORIZED ? admin : HTTP_STATUS_FORBIDDEN;
      }
    }
    return HTTP_STATUS_CONTINUE;
  }

 private:
  // Whether the client is an administrator: CONTINUE, or the status that refuses it.
  http_status_t AdminStatus(pappl_client_t* client) {
    http_t* http = papplClientGetHTTP(client);
    http_addr_t* address = httpGetAddress(http);
    if (address == nullptr) return HTTP_STATUS_FORBIDDEN;
    if (httpAddrFamily(address) == AF_LOCAL) return HTTP_STATUS_CONTINUE;
    char text[256] = "";
    httpAddrString(address, text, sizeof(text));
    const bool treatedAsRemote =
        std::find(policy_.remotePeers.begin(), policy_.remotePeers.end(), text) != policy_.remotePeers.end();
    if (httpAddrLocalhost(address) && !treatedAsRemote) return HTTP_STATUS_CONTINUE;
    if (!policy_.remoteAdmin) return HTTP_STATUS_FORBIDDEN;
    if (!papplClientIsEncrypted(client)) return HTTP_STATUS_UPGRADE_REQUIRED;
    Credentials credentials;
    if (!ReadBasic(client, credentials)) return HTTP_STATUS_UNAUTHORIZED;
    if (!PamAccepts(policy_.pamService, credentials) || !InGroup(credentials.user, policy_.adminGroup)) {
      papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Administrator sign-in refused for '%s' from %s.",
                     credentials.user.c_str(), text);
      std::this_thread::sleep_for(kFailureDelay);
      return HTTP_STATUS_UNAUTHORIZED;
    }
    papplClientSetUsername(client, credentials.user.c_str());
    return HTTP_STATUS_CONTINUE;
  }

  // Job and user names go into the state file, the log and the job header: control bytes
  // are made spaces before PAPPL keeps them. A PIN is swapped for a token before PAPPL
  // keeps it. The requesting user names the job's owner, so that only the owner (or an
  // administrator) may cancel, hold or release it.
  static void TidyRequest(pappl_client_t* client, ipp_t* request) {
    static constexpr const char* kNames[] = {"job-name", "requesting-user-name", "document-name",
                                             "job-originating-host-name"};
    for (ipp_attribute_t* attribute = ippFirstAttribute(request); attribute != nullptr;
         attribute = ippNextAttribute(request)) {
      const char* name = ippGetName(attribute);
      if (name == nullptr || std::none_of(std::begin(kNames), std::end(kNames),
                                          [name](const char* text) { return std::strcmp(name, text) == 0; })) {
        continue;
      }
      // Every attribute of these names, every value: PAPPL may read any of them.
      for (int i = 0; i < ippGetCount(attribute); ++i) {
        const char* value = ippGetString(attribute, i, nullptr);
        if (value == nullptr) continue;
        const std::string clean = CleanName(value);
        if (clean != value) ippSetString(request, &attribute, i, clean.c_str());
      }
    }
    TakePinFromRequest(request);
    const char* user = ippGetString(ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME), 0, nullptr);
    if (user != nullptr && papplClientGetUsername(client) == nullptr) papplClientSetUsername(client, user);
  }

  // PAPPL 1.3 checks a document's format against document-format-supported among the
  // printer's own attributes, where that list is not kept, so it takes any format and
  // aborts the job later when no filter takes it. It aborts it without asking the driver,
  // and closes the printer's device under a raster job that may be printing meanwhile. A
  // format the printer does not list is therefore refused here, before a job is made: the
  // document-format is moved out of the operation group, which PAPPL's own check of the
  // request refuses as an unsupported document-format, as it would refuse a format it
  // found unlisted. Create-Job counts too: the format it names is the job's when
  // Send-Document names none.
  static void RefuseUnprintedFormat(pappl_client_t* client, ipp_t* request) {
    switch (ippGetOperation(request)) {
      case IPP_OP_PRINT_JOB:
      case IPP_OP_VALIDATE_JOB:
      case IPP_OP_CREATE_JOB:
      case IPP_OP_SEND_DOCUMENT: break;
      default: return;
    }
    RemoveClientFormats(client, request);
    // The attribute PAPPL reads: the first of the name, in any group.
    ipp_attribute_t* format = ippFindAttribute(request, "document-format", IPP_TAG_ZERO);
    if (format == nullptr || ippGetValueTag(format) != IPP_TAG_MIMETYPE ||
        ippGetGroupTag(format) != IPP_TAG_OPERATION) {
      return;
    }
    // MIME types are the same in any letters, but PAPPL finds a filter for a format by
    // comparing it letter for letter with the lower-case names the printer lists.
    std::string value = ippGetString(format, 0, nullptr) != nullptr ? ippGetString(format, 0, nullptr) : "";
    std::transform(value.begin(), value.end(), value.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (value != ippGetString(format, 0, nullptr)) ippSetString(request, &format, 0, value.c_str());
    pappl_printer_t* printer = papplClientGetPrinter(client);
    ipp_t* attributes = papplPrinterGetDriverAttributes(printer);
    const bool listed =
        ippContainsString(ippFindAttribute(attributes, "document-format-supported", IPP_TAG_MIMETYPE), value.c_str());
    ippDelete(attributes);
    const std::string shown = CutText(CleanText(value), 64);
    if (!listed) {
      papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Refused document-format '%s': the printer does not print it.",
                     shown.c_str());
      ippSetGroupTag(request, &format, IPP_TAG_JOB);
      return;
    }
    // PAPPL keeps the format a Create-Job named as the job's, whatever format its
    // Send-Document names, and would read a PDF as raster (or the other way round) and
    // abort the job without the driver. A Send-Document naming another format is refused,
    // application/octet-stream too: PAPPL falls back to the Create-Job's format for a
    // document whose format it cannot find.
    if (ippGetOperation(request) != IPP_OP_SEND_DOCUMENT) return;
    const std::string created = CreatedFormat(client, printer);
    if (created.empty() || created == value) return;
    papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                   "Refused document-format '%s': the job was created for documents of '%s'.", shown.c_str(),
                   CutText(CleanText(created), 64).c_str());
    ippSetGroupTag(request, &format, IPP_TAG_JOB);
  }

  // PAPPL 1.3 inflates a gzip or deflate document into the spool folder without any
  // bound: a few hundred kilobytes can fill the disk. Only uncompressed documents are
  // taken: a compression other than none is moved out of the operation group, which
  // PAPPL refuses as unsupported. (PAPPL still lists gzip and deflate in
  // compression-supported; a second list from the driver would only double it.)
  static void RefuseCompression(pappl_client_t* client, ipp_t* request) {
    for (ipp_attribute_t* attribute = ippFirstAttribute(request); attribute != nullptr;
         attribute = ippNextAttribute(request)) {
      const char* name = ippGetName(attribute);
      if (name == nullptr || std::strcmp(name, "compression") != 0) continue;
      const char* value = ippGetString(attribute, 0, nullptr);
      if (ippGetCount(attribute) == 1 && value != nullptr && std::strcmp(value, "none") == 0) continue;
      papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Refused compression '%s': only uncompressed documents are taken.",
                     CutText(CleanText(value != nullptr ? value : ""), 32).c_str());
      ippSetGroupTag(request, &attribute, IPP_TAG_JOB);
    }
  }

  // CUPS's HTTP layer inflates a body sent with an HTTP Content-Encoding (gzip or deflate)
  // as PAPPL reads it, past the refusal of the compression attribute above, into the spool
  // without any bound. Such a request is refused the same way: every compression attribute
  // leaves the operation group, and one naming the encoding is added outside it when there
  // is none, which PAPPL refuses as unsupported.
  static void RefuseContentEncoding(pappl_client_t* client, ipp_t* request) {
    const char* encoding = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_CONTENT_ENCODING);
    if (encoding == nullptr || encoding[0] == '\0' || ::strcasecmp(encoding, "identity") == 0) return;
    papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Refused Content-Encoding '%s': only uncompressed requests are taken.",
                   CutText(CleanText(encoding), 32).c_str());
    bool named = false;
    for (ipp_attribute_t* attribute = ippFirstAttribute(request); attribute != nullptr;
         attribute = ippNextAttribute(request)) {
      const char* name = ippGetName(attribute);
      if (name == nullptr || std::strcmp(name, "compression") != 0) continue;
      ippSetGroupTag(request, &attribute, IPP_TAG_JOB);
      named = true;
    }
    if (!named)
      ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "compression", nullptr,
                   CutText(CleanText(encoding), 32).c_str());
  }

  // PAPPL takes a job's format from the first document-format-detected, else
  // document-format-supplied, of the request (any group) or, on Send-Document, of the job:
  // it adds its own reading of document-format after this callback, but one a client sent
  // would come first, name any format past the check above, and (left in the operation
  // group) be freed with the request while the job still points at it. Every one a client
  // sent is removed: gathered in one walk and deleted after it, in the request's order (a
  // deletion ends a walk), with one log line for the request.
  static void RemoveClientFormats(pappl_client_t* client, ipp_t* request) {
    std::vector<ipp_attribute_t*> sent;
    for (ipp_attribute_t* attribute = ippFirstAttribute(request); attribute != nullptr;
         attribute = ippNextAttribute(request)) {
      const char* name = ippGetName(attribute);
      if (name != nullptr &&
          (std::strcmp(name, "document-format-detected") == 0 || std::strcmp(name, "document-format-supplied") == 0)) {
        sent.push_back(attribute);
      }
    }
    if (sent.empty()) return;
    papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                   "Ignored the client's document-format-detected or -supplied (%lu): PAPPL finds the job's format.",
                   static_cast<unsigned long>(sent.size()));  // PAPPL's log knows no %zu
    for (ipp_attribute_t* attribute : sent) ippDeleteAttribute(request, attribute);
  }

  // The format the Create-Job of a Send-Document's job named (PAPPL's
  // document-format-supplied), or empty. The job is the one PAPPL found for the request
  // (by job-uri without printer-uri, else by job-id). PAPPL frees jobs and adds to their
  // attributes under the printer's write lock, so the job is looked for among the
  // printer's and its format copied while papplPrinterIterateAllJobs holds the read lock:
  // the client's job pointer is only compared, never followed.
  static std::string CreatedFormat(pappl_client_t* client, pappl_printer_t* printer) {
    struct Search {
      pappl_job_t* job;
      std::string format;
    } search{papplClientGetJob(client), {}};
    if (search.job == nullptr) return {};
    papplPrinterIterateAllJobs(
        printer,
        [](pappl_job_t* job, void* data) {
          auto* search = static_cast<Search*>(data);
          if (job != search->job) return;
          const char* format = ippGetString(papplJobGetAttribute(job, "document-format-supplied"), 0, nullptr);
          if (format != nullptr) search->format = format;
        },
        &search, 1, 0);
    return search.format;
  }

  AccessPolicy policy_;
};

http_status_t AuthorizeCallback(pappl_client_t* client, const char* group, gid_t, void* data) {
  return static_cast<Access*>(data)->Authorize(client, group);
}

}  // namespace

void InstallAccessControl(pappl_system_t* system, const AccessPolicy& policy) {
  // PAPPL keeps the pointer as long as the system lives, which is the program's life.
  static Access* access = nullptr;
  delete access;
  access = new Access(policy);
  papplSystemSetAdminGroup(system, policy.adminGroup.c_str());
  papplSystemSetAuthCallback(system, "Basic", AuthorizeCallback, access);
}

bool AsksForOverlayCapture(ipp_t* request) {
  // Every overlay-mode of every group and every value counts: PAPPL and the job read the
  // one of the job group, a first match could be another group's.
  for (ipp_attribute_t* attribute = ippFirstAttribute(request); attribute != nullptr;
       attribute = ippNextAttribute(request)) {
    const char* name = ippGetName(attribute);
    if (name == nullptr || std::strcmp(name, "overlay-mode") != 0) continue;
    for (int i = 0; i < ippGetCount(attribute); ++i) {
      const char* value = ippGetString(attribute, i, nullptr);
      if (value == nullptr) continue;
      const cups::JobOptions mapped = cups::MapIppJobOptions({}, {{"overlay-mode", value}}, 0);
      if (std::any_of(mapped.settings.begin(), mapped.settings.end(),
                      [](const auto& setting) { return setting.name == "dwOverlayMode" && setting.value == "1"; })) {
        return true;
      }
    }
  }
  return false;
}

std::string CleanText(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  // A byte that is not UTF-8 becomes U+FFFD on the way through UTF-16.
  std::string clean = platform::Utf16ToUtf8(platform::Utf8ToUtf16(text));
  // The C1 controls, U+0080 to U+009F (0xC2 0x80 to 0xC2 0x9F), become spaces too.
  for (std::size_t at = 0; (at = clean.find('\xC2', at)) != std::string::npos;) {
    if (at + 1 < clean.size() && static_cast<unsigned char>(clean[at + 1]) < 0xA0) {
      clean.replace(at, 2, " ");
    } else {
      ++at;
    }
  }
  return clean;
}

std::string CleanName(std::string text) { return CutText(CleanText(std::move(text)), kMaxNameBytes); }

std::string CutText(std::string text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  // Step back over continuation bytes (10xxxxxx) to the first byte of the character that
  // would be cut.
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

}  // namespace velmora::printer_app
