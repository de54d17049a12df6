// The page's AudioWorklet processor: plays the 16-bit blocks the main thread
// posts, as float x / 32768, and tells the main thread how far it got. It
// never loads the synthesizer: everything it plays was rendered already.

const report_every_frames = 1024;  // about 23 ms at 44100 Hz: often enough to keep the queue full

class TunecastPlayer extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.blocks = [];     // posted {samples: Int16Array, channels}, oldest first
    this.offset = 0;      // frames of blocks[0] already played
    this.generation = 0;  // a flush starts a new one; older messages are late and dropped
    this.position = 0;    // the song's frame the next output starts with
    this.ending = false;  // the song's last block has been posted
    this.unreported = 0;
    // Only the browser test asks for its output back, to compare it sample by sample.
    this.capture = Boolean(options.processorOptions?.capture);
    this.port.onmessage = (event) => this.receive(event.data);
  }

  receive(message) {
    if (message.type === 'flush') {
      this.blocks = [];
      this.offset = 0;
      this.ending = false;
      this.generation = message.generation;
      this.position = message.position;
      this.report();
      return;
    }
    if (message.generation !== this.generation) return;
    if (message.type === 'block') this.blocks.push(message);
    if (message.type === 'end') this.ending = true;
  }

  report() {
    this.unreported = 0;
    this.port.postMessage({type: 'position', generation: this.generation, position: this.position});
  }

  process(inputs, outputs) {
    const [left, right] = outputs[0];
    let filled = 0;
    while (filled < left.length && this.blocks.length > 0) {
      const {samples, channels} = this.blocks[0];
      const frames = Math.min(left.length - filled, samples.length / channels - this.offset);
      for (let i = 0; i < frames; ++i) {
        const at = (this.offset + i) * channels;
        // Mono plays the same sample on both sides.
        left[filled + i] = samples[at] / 32768;
        right[filled + i] = samples[at + channels - 1] / 32768;
      }
      if (this.capture) this.send_capture(left, right, filled, frames);
      filled += frames;
      this.offset += frames;
      if (this.offset * channels >= samples.length) {
        this.blocks.shift();
        this.offset = 0;
      }
    }
    // A queue run dry plays silence rather than stale samples.
    left.fill(0, filled);
    right.fill(0, filled);
    this.position += filled;
    this.unreported += filled;
    if (this.unreported >= report_every_frames) this.report();
    if (this.ending && this.blocks.length === 0) {
      this.ending = false;
      this.report();
      this.port.postMessage({type: 'ended', generation: this.generation});
    }
    return true;
  }

  // Both sides as played, a mono song's too: the test checks each.
  send_capture(left, right, from, frames) {
    const played = {left: left.slice(from, from + frames), right: right.slice(from, from + frames)};
    this.port.postMessage(
        {type: 'capture', generation: this.generation, position: this.position + from, ...played},
        [played.left.buffer, played.right.buffer]);
  }
}

registerProcessor('tunecast-player', TunecastPlayer);
