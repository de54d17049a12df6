// system_text_test.cpp: what the system reports, said in Spanish, with the
// number kept when there is no text for it. How a child ended is tested
// through unzip (tests/wad/zip_test.cpp).
#include "common/system_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

using tunecast::system_error_text;

namespace {

TEST(SystemText, ErrnoAndSignalsInSpanishOrByNumber) {
  EXPECT_EQ(system_error_text(EBADF), "descriptor de archivo no válido");
  EXPECT_EQ(system_error_text(4000), "error del sistema no previsto (errno 4000)");
#ifndef _WIN32  // no signals or child processes there
  using tunecast::signal_text;
  using tunecast::wait_status_text;
  EXPECT_EQ(signal_text(SIGSEGV), "la señal SIGSEGV (violación de segmento)");
  EXPECT_EQ(signal_text(SIGRTMIN + 1), "la señal " + std::to_string(SIGRTMIN + 1));
  EXPECT_EQ(wait_status_text(-1), "terminó de forma desconocida");
#endif
}

}  // namespace
