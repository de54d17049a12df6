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

// Marks a text for the tool's catalogs (xgettext --keyword=catalog_text):
// the tool prints these reasons in the user's language through its tr().
constexpr const char *catalog_text(const char *text) { return text; }

constexpr errno_row errno_rows[] = {
    {EACCES, catalog_text("permiso denegado")},
    {EPERM, catalog_text("permiso denegado")},
    {ENOENT, catalog_text("no existe el archivo o el directorio")},
    {ENOTDIR, catalog_text("parte de la ruta no es un directorio")},
    {EISDIR, catalog_text("es un directorio")},
    {ENOSPC, catalog_text("no queda espacio en el dispositivo")},
#ifdef EDQUOT  // not on Windows, like ESTALE
    {EDQUOT, catalog_text("cuota de disco agotada")},
#endif
    {EFBIG, catalog_text("archivo demasiado grande")},
    {EROFS, catalog_text("sistema de archivos de solo lectura")},
    {ENAMETOOLONG, catalog_text("nombre demasiado largo")},
    {ELOOP, catalog_text("demasiados enlaces simbólicos")},
    {ENOMEM, catalog_text("sin memoria")},
    {EIO, catalog_text("error de entrada/salida")},
    {EPIPE, catalog_text("tubería rota")},
    {EBADF, catalog_text("descriptor de archivo no válido")},
    {EEXIST, catalog_text("ya existe")},
    {EXDEV, catalog_text("el destino está en otro sistema de archivos")},
    {EBUSY, catalog_text("dispositivo o recurso ocupado")},
    {ETXTBSY, catalog_text("el archivo está en uso como programa")},
    {EMFILE, catalog_text("demasiados archivos abiertos en el proceso")},
    {ENFILE, catalog_text("demasiados archivos abiertos en el sistema")},
    {EAGAIN, catalog_text("recurso no disponible por ahora")},
    {EINTR, catalog_text("llamada interrumpida")},
    {EINVAL, catalog_text("argumento no válido")},
    {ENXIO, catalog_text("no existe el dispositivo o la dirección")},
    {ENODEV, catalog_text("no existe el dispositivo")},
    {ENOEXEC, catalog_text("formato de ejecutable no válido")},
    {E2BIG, catalog_text("lista de argumentos demasiado larga")},
    {ECHILD, catalog_text("no hay procesos hijos")},
    {ESPIPE, catalog_text("no se puede saltar en una tubería")},
    {EOVERFLOW, catalog_text("valor demasiado grande para el tipo de dato")},
    {ETIMEDOUT, catalog_text("se agotó el tiempo de espera")},
    {ENOTEMPTY, catalog_text("el directorio no está vacío")},
    {EMLINK, catalog_text("demasiados enlaces")},
    {ENOSYS, catalog_text("función no implementada")},
    {EOPNOTSUPP, catalog_text("operación no admitida")},
#ifdef ESTALE
    {ESTALE, catalog_text("referencia a un archivo de red caducada")},
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
