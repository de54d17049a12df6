// system_text_test.cpp: what the system reports, said in Spanish: errno
// values, signals and how a child ended, with the number kept when there
// is no text for it.
#include "common/system_text.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

TEST(SystemText, ErrnoSignalsAndWaitStatusesInSpanish) {
  EXPECT_EQ(system_error_text(ENOENT), "no existe el archivo o el directorio");
  EXPECT_EQ(system_error_text(EBADF), "descriptor de archivo no válido");
  EXPECT_EQ(system_error_text(4000), "error del sistema no previsto (errno 4000)");
  EXPECT_EQ(signal_text(SIGSEGV), "la señal SIGSEGV (violación de segmento)");
  EXPECT_EQ(signal_text(SIGRTMIN + 1), "la señal " + std::to_string(SIGRTMIN + 1));
  // Real statuses, from children that end each way.
  const std::pair<int, std::string> endings[] = {
      {0, "terminó con el código 3"}, {SIGKILL, "murió por la señal SIGKILL (matado a la fuerza)"}};
  for (const auto &[sig, text] : endings) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (sig != 0) raise(sig);
      _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(wait_status_text(status), text);
  }
  EXPECT_EQ(wait_status_text(-1), "terminó de forma desconocida");
}

}  // namespace
