// fixtures.h: builders for the files the tests (and the demo generator)
// feed to tunecast: WAD archives, MUS scores, WAV recordings and stored ZIP
// archives, made from readable calls so that no test writes bytes it cannot
// explain. Also small helpers to write files and run the built tool.
#ifndef TUNECAST_FIXTURES_H
#define TUNECAST_FIXTURES_H

#include <cstdint>
#include <string>
#include <vector>

namespace fixture {

using bytes = std::vector<uint8_t>;

void put_u16le(bytes &out, uint32_t v);
void put_u32le(bytes &out, uint32_t v);
void put_text(bytes &out, const std::string &text);  // no terminator

// A WAD archive: header, lump data in order, then the directory.
class wad_builder {
 public:
  explicit wad_builder(std::string magic = "PWAD") : magic_(std::move(magic)) {}
  // name: up to 8 bytes, padded with NULs.
  wad_builder &lump(const std::string &name, const bytes &data);
  wad_builder &marker(const std::string &name) { return lump(name, {}); }
  // An entry whose offset and size are written as given (for bounds tests).
  wad_builder &raw_entry(const std::string &name, int32_t file_ofs, int32_t size);
  bytes build() const;
  void write(const std::string &path) const;

 private:
  struct entry {
    std::string name;
    bytes data;
    bool raw = false;
    int32_t file_ofs = 0, size = 0;
  };
  std::string magic_;
  std::vector<entry> entries_;
};

// A MUS score. Events join the current group; delay() ends the group (sets
// bit 7 of its last event) and writes the variable-length tick count.
class mus_builder {
 public:
  mus_builder &note_on(int channel, int note, int velocity);  // with velocity byte
  mus_builder &note_on(int channel, int note);                // reuses the channel's last velocity
  mus_builder &note_off(int channel, int note);
  mus_builder &bend(int channel, int value);  // 0..255, 128 = centre
  mus_builder &controller(int channel, int number, int value);
  mus_builder &instrument(int channel, int program) { return controller(channel, 0, program); }
  mus_builder &volume(int channel, int value) { return controller(channel, 3, value); }
  mus_builder &system_event(int channel, int value);
  mus_builder &measure_end(int channel);
  mus_builder &score_end();
  mus_builder &delay(uint64_t ticks);
  // Appends bytes to the stream as they are (for malformed streams).
  mus_builder &raw(const bytes &stream_bytes);
  // Extra header bytes between the 8-byte header and the score (an
  // instrument list in real files); the score start grows by their count.
  mus_builder &header_padding(size_t count);

  bytes stream() const { return stream_; }
  // Header + stream. The score length is the stream's size.
  bytes build() const;

 private:
  mus_builder &event(int type, int channel, const bytes &data);
  bytes stream_;
  size_t last_event_ = SIZE_MAX;  // offset of the current group's last event byte
  size_t padding_ = 0;
};

// Variable-length MUS delay bytes for ticks.
bytes mus_delay_bytes(uint64_t ticks);

// A canonical 16-bit PCM WAV file (RIFF, "fmt ", "data").
bytes wav_pcm16(int channels, uint32_t rate, const std::vector<int16_t> &samples);

// A ZIP archive of local headers (and a central directory) with stored
// members, deflated ones (written as stored deflate blocks, which any
// inflater reads), or members whose method number is given but data copied
// as is. A streamed member leaves its sizes to a data descriptor, as a
// writer that cannot seek does; an encrypted one only sets the flag.
struct zip_flags {
  bool streamed = false;
  bool encrypted = false;
};
class zip_builder {
 public:
  zip_builder &stored(const std::string &name, const bytes &data, zip_flags flags = {});
  zip_builder &deflated(const std::string &name, const bytes &data, zip_flags flags = {});
  zip_builder &member(const std::string &name, const bytes &data, uint16_t method);
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

// CRC-32 of the ZIP format (reflected, polynomial 0xEDB88320).
uint32_t crc32(const bytes &data);

void write_file(const std::string &path, const bytes &data);
bytes read_file(const std::string &path);
bool file_exists(const std::string &path);

// A fresh, empty directory under the system's temporary directory.
std::string make_temp_dir(const std::string &tag);

// Runs argv[0] (a path) with the arguments, without a shell, with extra
// environment assignments ("NAME=value"; "-NAME" removes NAME). Captures
// standard output and standard error. Returns the exit status, or -1 when
// the process did not exit normally.
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

}  // namespace fixture

#endif  // TUNECAST_FIXTURES_H
