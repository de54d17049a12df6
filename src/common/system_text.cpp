// system_text.cpp: Spanish texts for errno values, signals and wait
// statuses. A table rather than strerror: the C library speaks the
// locale's language, which for this tool's users is mostly English.
#include "common/system_text.h"

#include <cerrno>

#ifndef _WIN32
#include <sys/wait.h>

#include <csignal>
#endif

namespace tunecast {

namespace {

struct errno_row {
  int err;
  const char *text;
};

constexpr errno_row errno_rows[] = {
    {EACCES, "permiso denegado"},
    {EPERM, "permiso denegado"},
    {ENOENT, "no existe el archivo o el directorio"},
    {ENOTDIR, "parte de la ruta no es un directorio"},
    {EISDIR, "es un directorio"},
    {ENOSPC, "no queda espacio en el dispositivo"},
#ifdef EDQUOT  // not on Windows, like ESTALE
    {EDQUOT, "cuota de disco agotada"},
#endif
    {EFBIG, "archivo demasiado grande"},
    {EROFS, "sistema de archivos de solo lectura"},
    {ENAMETOOLONG, "nombre demasiado largo"},
    {ELOOP, "demasiados enlaces simbólicos"},
    {ENOMEM, "sin memoria"},
    {EIO, "error de entrada/salida"},
    {EPIPE, "tubería rota"},
    {EBADF, "descriptor de archivo no válido"},
    {EEXIST, "ya existe"},
    {EXDEV, "el destino está en otro sistema de archivos"},
    {EBUSY, "dispositivo o recurso ocupado"},
    {ETXTBSY, "el archivo está en uso como programa"},
    {EMFILE, "demasiados archivos abiertos en el proceso"},
    {ENFILE, "demasiados archivos abiertos en el sistema"},
    {EAGAIN, "recurso no disponible por ahora"},
    {EINTR, "llamada interrumpida"},
    {EINVAL, "argumento no válido"},
    {ENXIO, "no existe el dispositivo o la dirección"},
    {ENODEV, "no existe el dispositivo"},
    {ENOEXEC, "formato de ejecutable no válido"},
    {E2BIG, "lista de argumentos demasiado larga"},
    {ECHILD, "no hay procesos hijos"},
    {ESPIPE, "no se puede saltar en una tubería"},
    {EOVERFLOW, "valor demasiado grande para el tipo de dato"},
    {ETIMEDOUT, "se agotó el tiempo de espera"},
    {ENOTEMPTY, "el directorio no está vacío"},
    {EMLINK, "demasiados enlaces"},
    {ENOSYS, "función no implementada"},
    {EOPNOTSUPP, "operación no admitida"},
#ifdef ESTALE
    {ESTALE, "referencia a un archivo de red caducada"},
#endif
};

}  // namespace

std::string system_error_text(int err) {
  for (const errno_row &r : errno_rows) {
    if (r.err == err) return r.text;
  }
  return "error del sistema no previsto (errno " + std::to_string(err) + ")";
}

// Windows has neither these signals nor child processes that the tool waits for.
#ifndef _WIN32

namespace {

struct signal_row {
  int sig;
  const char *name;
  const char *text;
};

constexpr signal_row signal_rows[] = {
    {SIGHUP, "SIGHUP", "cuelgue de la terminal"},
    {SIGINT, "SIGINT", "interrupción"},
    {SIGQUIT, "SIGQUIT", "salida forzada"},
    {SIGILL, "SIGILL", "instrucción ilegal"},
    {SIGTRAP, "SIGTRAP", "trampa de depuración"},
    {SIGABRT, "SIGABRT", "abortado"},
    {SIGBUS, "SIGBUS", "error de bus"},
    {SIGFPE, "SIGFPE", "excepción aritmética"},
    {SIGKILL, "SIGKILL", "matado a la fuerza"},
    {SIGUSR1, "SIGUSR1", "de usuario 1"},
    {SIGSEGV, "SIGSEGV", "violación de segmento"},
    {SIGUSR2, "SIGUSR2", "de usuario 2"},
    {SIGPIPE, "SIGPIPE", "tubería rota"},
    {SIGALRM, "SIGALRM", "alarma"},
    {SIGTERM, "SIGTERM", "petición de terminar"},
    {SIGXCPU, "SIGXCPU", "límite de tiempo de CPU superado"},
    {SIGXFSZ, "SIGXFSZ", "límite de tamaño de archivo superado"},
    {SIGSYS, "SIGSYS", "llamada al sistema no válida"},
};

}  // namespace

std::string signal_text(int sig) {
  for (const signal_row &r : signal_rows) {
    if (r.sig == sig) return std::string("la señal ") + r.name + " (" + r.text + ")";
  }
  return "la señal " + std::to_string(sig);
}

std::string wait_status_text(int status) {
  if (status != -1 && WIFEXITED(status)) {
    return "terminó con el código " + std::to_string(WEXITSTATUS(status));
  }
  if (status != -1 && WIFSIGNALED(status)) return "murió por " + signal_text(WTERMSIG(status));
  return "terminó de forma desconocida";
}

#endif  // _WIN32

}  // namespace tunecast
