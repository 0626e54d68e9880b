#include "engine/readers/office_service.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <system_error>

#include "engine/byte_source.h"
#include "engine/readers/office_bridge_script.h"
#include "engine/readers/office_sockets.h"
#include "platform/fd_io.h"
#include "platform/private_folder.h"
#include "platform/process.h"

namespace corvexa {

namespace {

using Clock = std::chrono::steady_clock;

// The settings of the suite's fresh profile: links a document makes to the
// web are refused, and every web address goes through a proxy on the
// loopback's discard port, where nothing answers, so a document's images,
// style sheets and other linked content are never fetched (a beacon, or a
// request to an address of the document's choosing).
constexpr const char* kProfileSettings =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\">"
    "<prop oor:name=\"BlockUntrustedRefererLinks\" "
    "oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetProxyType\" oor:op=\"fuse\"><value>1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetHTTPProxyName\" "
    "oor:op=\"fuse\"><value>127.0.0.1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetHTTPProxyPort\" oor:op=\"fuse\"><value>9</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetHTTPSProxyName\" "
    "oor:op=\"fuse\"><value>127.0.0.1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetHTTPSProxyPort\" oor:op=\"fuse\"><value>9</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetNoProxy\" oor:op=\"fuse\"><value></value></prop></item>\n"
    // A profile last used by a later version: the suite's first start skips
    // what it does once after an upgrade (seconds of drawing tests, which
    // decide nothing for a headless conversion).
    "<item oor:path=\"/org.openoffice.Setup/Product\">"
    "<prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>99.9</value></prop></item>\n"
    "</oor:items>\n";

// The most a reply may carry: what the suite said during one conversion.
constexpr std::size_t kReplyLimit = 8u << 20;

// Starts the suite (SOFFICE PROFILE_URL PIPE_NAME LOG SUITE_PATH, the last
// its PATH) in the background, then becomes the program that follows, given
// the suite's number last. Every value is an argument, none part of the
// command.
constexpr const char* kStartSuite =
    "PATH=\"$5\" \"$1\" \"-env:UserInstallation=$2\" --headless --invisible --nologo "
    "--norestore --nodefault --nolockcheck \"--accept=pipe,name=$3;urp;\" </dev/null >\"$4\" "
    "2>&1 &\n"
    "shift 5\n"
    "exec \"$@\" \"$!\"\n";

// What the suite's start script sets before it runs the launcher.
constexpr const char* kLauncherEnvironment = "SAL_ENABLE_FILE_LOCKING=1";

// A Python 3 to run the bridge with: the suite's own first (its packages
// bring one), else the system's, else any on PATH. Empty when there is none.
std::string FindPython(const std::string& soffice) {
    char real[4096];
    if (::realpath(soffice.c_str(), real)) {
        std::string own(real);
        own = own.substr(0, own.rfind('/') + 1) + "python";
        if (::access(own.c_str(), X_OK) == 0) return own;
    }
    if (::access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";
    return platform::FindExecutable("python3");
}

// A reply: "STATUS LENGTH\n" and LENGTH bytes. How many bytes the first
// reply in received takes; zero while it is incomplete. What is no reply is
// taken whole, and refused.
std::size_t ReplySize(const std::string& received) {
    const std::size_t line = received.find('\n');
    if (line == std::string::npos) return 0;
    const std::size_t space = received.find(' ');
    std::size_t length = 0;
    if (space == std::string::npos || space > line ||
        std::from_chars(received.data() + space + 1, received.data() + line, length).ec !=
            std::errc() ||
        length > kReplyLimit)
        return received.size();
    return received.size() - line - 1 >= length ? line + 1 + length : 0;
}

// The status word of a complete reply, its payload in *payload; empty when it
// is no reply.
std::string ParseReply(const std::string& reply, std::string* payload) {
    const std::size_t line = reply.find('\n');
    const std::size_t space = reply.find(' ');
    std::size_t length = 0;
    if (line == std::string::npos || space == std::string::npos || space > line ||
        std::from_chars(reply.data() + space + 1, reply.data() + line, length).ec != std::errc() ||
        reply.size() - line - 1 != length)
        return {};
    *payload = reply.substr(line + 1);
    return reply.substr(0, space);
}

// A new file of ours (never through a link) holding text. False, errno set,
// on failure.
bool WriteNewFile(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = platform::WriteFull(fd, text.data(), text.size());
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return written;
}

// The reason a conversion ended early.
[[noreturn]] void ThrowFor(platform::ProcessOutcome outcome) {
    switch (outcome) {
        case platform::ProcessOutcome::TimedOut:
            throw ReadError("the office suite took too long");
        case platform::ProcessOutcome::Cancelled:
            throw ReadError("stopped");
        default:
            throw OfficeService::Crashed();
    }
}

// Whether the file starts as a script does.
bool IsScript(const std::string& path) {
    char start[2] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    const bool script = ::read(fd, start, sizeof start) == 2 && start[0] == '#' && start[1] == '!';
    ::close(fd);
    return script;
}

}  // namespace

std::string OfficeLauncher(const std::string& soffice) {
#if defined(__OpenBSD__) || defined(__NetBSD__) || defined(__DragonFly__)
    return soffice;  // there the script also sets the library path
#endif
    char real[PATH_MAX];
    if (soffice.empty() || !::realpath(soffice.c_str(), real)) return soffice;
    const std::string path(real);
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    // The script of an installation as the suite ships it: it finds its own
    // folder through a dozen small programs, then runs the launcher there. A
    // script that sets up more (ooenv beside it) is left to do so.
    if (path.substr(folder.size()) != "soffice" || !IsScript(path) ||
        ::access((folder + "oosplash").c_str(), X_OK) != 0 ||
        ::access((folder + "soffice.bin").c_str(), F_OK) != 0 ||
        ::access((folder + "ooenv").c_str(), F_OK) == 0)
        return soffice;
    return folder + "oosplash";
}

bool WriteOfficeProfile(const std::string& profile, const std::string& soffice) {
    const std::string user = profile + "/user";
    if (::mkdir(profile.c_str(), 0700) != 0 || ::mkdir(user.c_str(), 0700) != 0 ||
        !WriteNewFile(user + "/registrymodifications.xcu", kProfileSettings))
        return false;
    // The build the profile's extension cache was made for: the suite's own,
    // or it clears that cache on its first start and starts itself over.
    const std::string build = OfficeBuildId(soffice);
    return build.empty() || (::mkdir((user + "/extensions").c_str(), 0700) == 0 &&
                             WriteNewFile(user + "/extensions/buildid", build));
}

std::string OfficeBuildId(const std::string& soffice) {
    char real[PATH_MAX];
    if (soffice.empty() || !::realpath(soffice.c_str(), real)) return {};
    std::string path(real);
    path = path.substr(0, path.rfind('/') + 1) + "versionrc";
    std::ifstream in(path);
    std::string line;
    for (int lines = 0; lines < 200 && std::getline(in, line); ++lines) {
        constexpr std::string_view kKey = "buildid=";
        if (line.compare(0, kKey.size(), kKey) != 0) continue;
        line.erase(0, kKey.size());
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        // Only what the suite itself would write there.
        if (line.size() > 200 || line.find_first_of("\n/") != std::string::npos) return {};
        return line;
    }
    return {};
}

std::string OfficeFileUrl(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::strchr("/-._~", c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

OfficeService::OfficeService(std::string soffice, std::vector<std::string> bridge)
    : soffice_(std::move(soffice)), bridge_(std::move(bridge)) {}

// At the end of the scan the suite is ended as at a time-out, which takes no
// time; what it leaves outside our folder goes with it.
OfficeService::~OfficeService() {
    std::lock_guard lock(mutex_);
    EndBridge();
}

bool OfficeService::StartBridge(const std::string& firstRequest, Clock::time_point deadline,
                                const std::atomic<bool>* stop) {
    std::vector<std::string> argv = bridge_;
    if (argv.empty()) {
        const std::string python = FindPython(soffice_);
        if (python.empty()) return false;
        argv = {python, "-c", detail::kOfficeBridgeScript};
    }
    const bool ownStart = bridge_.empty();
    try {
        folder_ = std::make_unique<platform::PrivateFolder>("corvexa-office-",
                                                            platform::TemporaryFolderBase());
    } catch (const std::system_error& e) {
        throw ReadError(std::string("cannot create a temporary folder: ") + e.code().message());
    }
    const std::string& home = folder_->Path();
    // The suite's pipe is named after our folder, which no one else has.
    const std::string profile = OfficeFileUrl(home + "/profile"),
                      pipe = home.substr(home.rfind('/') + 1);
    bool prepared = ::mkdir((home + "/tmp").c_str(), 0700) == 0 &&
                    WriteOfficeProfile(home + "/profile", soffice_);
    for (const std::string& socket : OfficeSockets(profile, pipe))
        prepared = prepared && folder_->NoteOutsideSocket(socket);
    if (!prepared)
        throw ReadError("cannot prepare the office suite: " + std::string(std::strerror(errno)));
    const std::vector<std::string> suite = {soffice_, profile, pipe, home + "/suite.log"};
    argv.insert(argv.end(), suite.begin(), suite.end());
    // The suite starts first, from a shell that then becomes the bridge: the
    // suite's start is what a first document waits for, not the bridge's.
    // The shell runs the suite's launcher itself where it can, and then gives
    // the suite no programs to find: a document it loads makes it look for
    // the signature tools and run four of them, which a text needs not (and
    // hostile input had better not reach). The bridge keeps our PATH (its
    // Python may be a script that needs it).
    if (ownStart) {
        const std::string launcher = OfficeLauncher(soffice_);
        const char* path = std::getenv("PATH");
        std::string suitePath = path ? path : "/usr/local/bin:/usr/bin:/bin";
        if (launcher != soffice_) suitePath = home + "/none";
        std::vector<std::string> shell = {"/bin/sh", "-c", kStartSuite, "sh", launcher};
        shell.insert(shell.end(), suite.begin() + 1, suite.end());
        shell.push_back(suitePath);
        argv.insert(argv.begin(), shell.begin(), shell.end());
    }
    platform::ProcessRequest request;
    request.workingFolder = home;
    request.environment = {"TMPDIR=" + home + "/tmp", "HOME=" + home, kLauncherEnvironment};
    request.argv = std::move(argv);
    int error = 0;
    process_ = platform::LiveProcess::Start(request, &error);
    if (!process_) return false;
    ++starts_;
    // The first document goes with the start: the bridge takes it the moment
    // the suite is up. (A bridge that is gone already says why below.)
    process_->Send(firstRequest);
    std::string payload;
    const std::string status = TakeReply(deadline, stop, &payload);
    if (status == "ready") return true;
    EndBridge();
    if (status == "unavailable") return false;
    ThrowFor(platform::ProcessOutcome::Signalled);
}

// The suite is killed first, then its folder goes with the sockets it left.
void OfficeService::EndBridge() {
    process_.reset();
    received_.clear();
    folder_.reset();
}

OfficeService::Outcome OfficeService::Convert(const std::string& document,
                                              const std::string& filter,
                                              const std::string& outFolder,
                                              std::chrono::milliseconds timeout,
                                              const std::atomic<bool>* stop, std::string* log) {
    std::lock_guard lock(mutex_);
    const std::size_t colon = filter.find(':');
    if (unavailable_ || colon == std::string::npos ||
        (document + outFolder + filter).find_first_of("\t\n") != std::string::npos)
        return Outcome::Unavailable;
    const std::size_t second = filter.find(':', colon + 1);
    const std::string extension = filter.substr(0, colon);
    const std::string name = filter.substr(colon + 1, second - colon - 1);
    const std::string options = second == std::string::npos ? "" : filter.substr(second + 1);
    const std::string request = "convert\t" + name + "\t" + options + "\t" + extension + "\t" +
                                document + "\t" + outFolder + "\n";
    // A suite that died on a document after converting others may have died
    // of what they left behind: the document gets one more try on a fresh one.
    for (;;) {
        const bool fresh = !process_;
        const auto deadline = Clock::now() + timeout;  // a start of the suite included
        try {
            if (fresh && !StartBridge(request, deadline, stop)) {
                unavailable_ = true;
                return Outcome::Unavailable;
            }
            if (!fresh && !process_->Send(request)) {
                EndBridge();
                throw Crashed();
            }
            const std::string status = TakeReply(deadline, stop, log);
            if (status != "done" && status != "failed") {
                EndBridge();
                throw Crashed();
            }
            return Outcome::Done;
        } catch (const Crashed&) {
            if (fresh) throw ReadError("the office suite crashed");
        }
    }
}

std::string OfficeService::TakeReply(Clock::time_point deadline, const std::atomic<bool>* stop,
                                     std::string* payload) {
    const auto outcome = process_->Receive(
        &received_, [](const std::string& r) { return ReplySize(r) > 0; }, deadline, stop,
        kReplyLimit);
    if (outcome != platform::ProcessOutcome::Exited) {
        EndBridge();
        ThrowFor(outcome);
    }
    // What follows the reply is the start of the next one.
    const std::size_t size = ReplySize(received_);
    const std::string reply = received_.substr(0, size);
    received_.erase(0, size);
    return ParseReply(reply, payload);
}

}  // namespace corvexa
