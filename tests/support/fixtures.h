// fixtures.h: builders for the files the tests feed to tunecast: WAD
// archives, MUS scores, WAV recordings and ZIP archives, made from
// readable calls so that no test writes bytes it cannot explain. Also small
// helpers to write files and run the built tool.
#ifndef TUNECAST_FIXTURES_H
#define TUNECAST_FIXTURES_H

#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "mus/writer.h"
#include "wad_writer.h"

namespace fixture {

using bytes = std::vector<uint8_t>;

using tunecast::get_u16le;
using tunecast::put_u16le;
using tunecast::put_u32le;
using tunecast::put_u64le;
void put_text(bytes &out, const std::string &text);  // no terminator

// The WAD and MUS writers that the demo song and the benchmarks use too,
// under the names the tests know them by.
using wad_builder = ::wad_writer;
using mus_builder = tunecast::mus::writer;
inline bytes mus_delay_bytes(uint64_t ticks) { return tunecast::mus::delay_bytes(ticks); }

// Melody, a chord and drums over 140 ticks (one second, 44100 frames), so
// that encoders and loops meet more than silence.
bytes busy_song();

// A canonical 16-bit PCM WAV file (RIFF, "fmt ", "data").
bytes wav_pcm16(int channels, uint32_t rate, const std::vector<int16_t> &samples);

// A ZIP archive of local headers (and a central directory) with stored
// members, deflated ones (compressed by zlib), members whose method number
// is given but data copied as is, or data compressed elsewhere. A streamed member leaves its sizes
// to a data descriptor, as a writer that cannot seek does; an encrypted one only sets the flag. A
// ZIP64 member marks its sizes 0xFFFFFFFF and gives them in the ZIP64 extra field (and its
// descriptor, 8 bytes each). A name is written as given: flagged as UTF-8, or in the central
// directory as made on a FAT host, whose names are in the OEM code page.
struct zip_flags {
  bool streamed = false;
  bool encrypted = false;
  bool zip64 = false;
  bool utf8_name = false;
  bool fat_host = false;
};
class zip_builder {
 public:
  zip_builder &stored(const std::string &name, const bytes &data, zip_flags flags = {});
  zip_builder &deflated(const std::string &name, const bytes &data, zip_flags flags = {});
  zip_builder &member(const std::string &name, const bytes &data, uint16_t method);
  zip_builder &compressed(const std::string &name, const bytes &data, uint16_t method, uint32_t crc,
                          uint32_t uncomp_size, zip_flags flags = {});
  bytes build() const;

 private:
  struct member_rec {
    std::string name;
    bytes data;  // as stored in the archive
    uint16_t method;
    uint32_t crc;
    uint32_t uncomp_size;
    zip_flags flags;
  };
  std::vector<member_rec> members_;
};

// data as a raw deflate stream (no zlib header or trailer), as a ZIP
// member holds it, compressed by zlib at level (0, stored blocks, to 9).
bytes deflate_raw(const bytes &data, int level = 9);

// CRC-32 of the ZIP format (reflected, polynomial 0xEDB88320).
uint32_t crc32(const bytes &data);
// The CRC-32 of data whose CRC-32 is crc followed by count zero bytes.
uint32_t crc32_zeros(uint32_t crc, uint64_t count);

// A raw deflate stream that gives head (at least one byte), then runs times
// 258 copies of head's last byte: what real compression makes of a long
// run, 2 bits for each 258 bytes, the format's highest ratio.
bytes deflate_run(const bytes &head, uint64_t runs);

// Little-endian 16-bit samples from byte `offset` on: 44 for a canonical
// WAV file, 0 for the raw samples a sound device was handed.
std::vector<int16_t> pcm16_samples(const bytes &data, size_t offset);
// The first non-zero sample at or after `from` (s.size() when none): where a
// song's sound begins, to line up a device's output that began with silence.
size_t first_sounding(const std::vector<int16_t> &s, size_t from);

void write_file(const std::string &path, const bytes &data);
bytes read_file(const std::string &path);
bool file_exists(const std::string &path);

// A fresh, empty directory under the system's temporary directory.
std::string make_temp_dir(const std::string &tag);

#ifndef _WIN32
// Runs argv[0] (a path) with the arguments, without a shell, with extra
// environment assignments ("NAME=value"; "-NAME" removes NAME), and without
// the locale's variables (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) unless env
// sets them. Captures standard output and standard error. Returns the exit
// status, or -1 when the process did not exit normally.
struct run_result {
  int status = -1;
  std::string out;
  std::string err;
  long max_rss_kib = 0;  // the process's peak resident memory
};
run_result run(const std::vector<std::string> &argv, const std::vector<std::string> &env = {});

// Path of the built tool, from the TUNECAST_BIN compile definition.
std::string tool_path();

// Runs the built tool with args and the synthesizer forced (ZARN_SYNTH=1),
// so no recording lying in the working directory can stand in for a song.
run_result run_tool(std::vector<std::string> args);
#endif

}  // namespace fixture

#endif  // TUNECAST_FIXTURES_H
