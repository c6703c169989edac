// zorbel-flash-run FLASHER [ARGUMENT...]: what the terminal of a FLASH press
// runs. It starts the flasher with the arguments as they are (no shell),
// waits for it, says in French whether the update succeeded, and keeps the
// window open until Enter is pressed. Exits with the flasher's status, or 127
// when it could not be started.

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string BaseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Runs the flasher as a child of ours; returns its wait status, or -1 with
// errno set when it could not be started.
int RunFlasher(char** flasherArguments)
{
    // The exec failure comes back through a close-on-exec pipe.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        errno = error;
        return -1;
    }
    if (child == 0) {
        ::close(report[0]);
        const std::string program = BaseName(flasherArguments[0]);
        const char* path = flasherArguments[0];
        flasherArguments[0] = const_cast<char*>(program.c_str());
        ::execv(path, flasherArguments);
        const int error = errno;
        [[maybe_unused]] const ssize_t n = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int startError = 0;
    ssize_t got;
    while ((got = ::read(report[0], &startError, sizeof startError)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof startError)) {
        errno = startError;
        return -1;
    }
    return status;
}

void WaitForEnter()
{
    std::fputs("Appuyez sur Entrée pour fermer cette fenêtre.", stdout);
    std::fflush(stdout);
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    }
}

} // namespace

int main(int argc, char** argv)
{
    // The system's texts in the user's language.
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        std::fputs("usage: zorbel-flash-run FLASHER [ARGUMENT...]\n", stderr);
        return 2;
    }
    const int status = RunFlasher(argv + 1);
    const int startError = errno;
    // The outcome and the request to close share the window's last line.
    int exitCode = 0;
    std::fputs("\n", stdout);
    if (status < 0) {
        exitCode = 127;
        std::printf("Échec de la mise à jour : impossible de lancer %s (%s). ", argv[1], std::strerror(startError));
    } else if (WIFEXITED(status)) {
        exitCode = WEXITSTATUS(status);
        std::printf(exitCode == 0 ? "Mise à jour réussie (code de sortie %d). "
                                  : "Échec de la mise à jour (code de sortie %d). ",
                    exitCode);
    } else {
        exitCode = 128 + WTERMSIG(status);
        std::printf("Échec de la mise à jour (arrêt par le signal %d). ", WTERMSIG(status));
    }
    WaitForEnter();
    return exitCode;
}
