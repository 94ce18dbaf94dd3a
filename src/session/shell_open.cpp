#include "session/shell_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "data/files.h"

namespace korw::session {

// The program runs in a grandchild: the child forks it and ends at once and is reaped here, so
// no started program stays a zombie of ours.
void StartDetached(std::vector<std::string> args, bool quiet) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            int null = quiet ? ::open("/dev/null", O_WRONLY) : -1;
            if (null >= 0) {
                ::dup2(null, STDOUT_FILENO);
                ::dup2(null, STDERR_FILENO);
            }
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::_exit(0);
    }
    if (child > 0) ::waitpid(child, nullptr, 0);
}

void OpenWithDesktop(const std::string& file, const std::string& arguments) {
    std::string path = data::ResolveExisting(file);
    struct stat st;
    bool exists = !file.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (exists && ::access(path.c_str(), X_OK) == 0) {
        std::vector<std::string> args{path.find('/') == std::string::npos ? "./" + path : path};
        std::istringstream words(arguments);
        for (std::string w; words >> w;) args.push_back(w);
        return StartDetached(args);
    }
    StartDetached({"xdg-open", exists ? path : file});
}

}  // namespace korw::session
