// Loaded into a program under test (LD_PRELOAD): a host-name lookup of a name
// that starts with "never." never answers, as with a name server that is gone.
// Every other lookup goes to the system's resolver.

#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <cstring>

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** res) {
    if (node && std::strncmp(node, "never.", 6) == 0)
        for (;;) ::pause();
    using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(node, service, hints, res);
}
