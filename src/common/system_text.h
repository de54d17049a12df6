// system_text.h: what the system reports (an errno value, a signal, a
// child's wait status) said in Spanish for the console, instead of the C
// library's English texts or a bare number.
#ifndef TUNECAST_SYSTEM_TEXT_H
#define TUNECAST_SYSTEM_TEXT_H

#include <string>

namespace tunecast {

// Short Spanish reason for an errno value ("permiso denegado"); a value
// without a text of its own still names its number ("error del sistema
// no previsto (errno 200)").
std::string system_error_text(int err);

#ifndef _WIN32
// A signal by its usual name and a Spanish description ("la señal SIGSEGV
// (violación de segmento)"); one without a name gives "la señal 42".
std::string signal_text(int sig);

// How a child ended, from its wait status, after "program": "terminó con
// el código 2", "murió por la señal SIGSEGV (violación de segmento)".
// A status that says neither (-1, lost) gives "terminó de forma desconocida".
std::string wait_status_text(int status);
#endif

}  // namespace tunecast

#endif  // TUNECAST_SYSTEM_TEXT_H
