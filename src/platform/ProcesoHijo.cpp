#include "platform/ProcesoHijo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ProcesoHijo {

bool Probar(const std::function<void()>& prueba) {
    const pid_t hijo = ::fork();
    if (hijo < 0) {
        return false;
    }
    if (hijo == 0) {
        const rlimit sinNucleo{0, 0};
        ::setrlimit(RLIMIT_CORE, &sinNucleo);
        const int nulo = ::open("/dev/null", O_WRONLY);
        if (nulo >= 0) {
            ::dup2(nulo, STDOUT_FILENO);
            ::dup2(nulo, STDERR_FILENO);
        }
        prueba();
        // No exit handlers: they belong to the parent.
        ::_exit(0);
    }
    int estado = 0;
    while (::waitpid(hijo, &estado, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(estado) && WEXITSTATUS(estado) == 0;
}

} // namespace ProcesoHijo
