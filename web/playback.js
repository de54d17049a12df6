// Plays a song's player through the AudioWorklet in player-worklet.js: the
// main thread pulls blocks from the module and keeps about half a second
// queued there; the worklet only converts and plays them.

export const sample_rate_hz = 44100;
const queued_frames_wanted = 22050;  // 0.5 s: rides out a busy main thread
const pull_frames = 4096;

// handlers: on_position(frame) as the worklet plays, on_ended() when the
// song's last frame has played, on_error(error) when the module fails a
// pull, on_capture(message) for the browser test's hook.
export class Playback {
  #context;
  #node;
  #handlers;
  #player = null;
  #generation = 0;  // counts flushes, to drop the worklet's late reports
  #posted = 0;      // the song's frame after the last block posted
  #played = 0;      // the song's frame the worklet reported reaching
  #drained = false;

  constructor(context, node, handlers) {
    this.#context = context;
    this.#node = node;
    this.#handlers = handlers;
    node.port.onmessage = (event) => this.#receive(event.data);
  }

  // Must be called from a user's gesture, or the browser keeps it silent.
  static async create(handlers, {capture = false} = {}) {
    const context = new AudioContext({sampleRate: sample_rate_hz});
    try {
      await context.audioWorklet.addModule(new URL('player-worklet.js', import.meta.url));
      const node = new AudioWorkletNode(context, 'tunecast-player', {
        numberOfInputs: 0,
        outputChannelCount: [2],
        processorOptions: {capture},
      });
      node.connect(context.destination);
      return new Playback(context, node, handlers);
    } catch (error) {
      context.close();
      throw error;
    }
  }

  get position() {
    return this.#played;
  }

  get paused() {
    return this.#context.state !== 'running';
  }

  // Queues player (which the caller keeps and closes) from frame on; it
  // sounds while the playback is not paused.
  play(player, frame = 0) {
    this.#player = player;
    this.seek(frame);
  }

  // The worklet's queue is dropped: the next sample heard is the frame's.
  seek(frame) {
    if (this.#player === null) return;
    this.#player.seek(frame);
    this.#flush(this.#player.position);
    this.#fill();
  }

  stop() {
    this.#player = null;
    this.#flush(0);
  }

  pause() {
    return this.#context.suspend();
  }

  resume() {
    return this.#context.resume();
  }

  #flush(position) {
    this.#generation += 1;
    this.#posted = this.#played = position;
    this.#drained = false;
    this.#node.port.postMessage({type: 'flush', generation: this.#generation, position});
  }

  #fill() {
    const player = this.#player;
    if (player === null || this.#drained) return;
    while (this.#posted - this.#played < queued_frames_wanted) {
      let samples;
      try {
        samples = player.pull(pull_frames);
      } catch (error) {
        // What was queued still plays; then the song ends there.
        this.#handlers.on_error(error);
        samples = new Int16Array(0);
      }
      if (samples.length === 0) {
        this.#drained = true;
        this.#node.port.postMessage({type: 'end', generation: this.#generation});
        return;
      }
      // Only a buffer of its own may be handed over: a view on the module's
      // memory would take that memory away from the module.
      const own = samples.byteLength === samples.buffer.byteLength ? samples : samples.slice();
      this.#posted += own.length / player.channels;
      this.#node.port.postMessage(
          {type: 'block', generation: this.#generation, channels: player.channels, samples: own},
          [own.buffer]);
    }
  }

  #receive(message) {
    if (message.generation !== this.#generation) return;
    if (message.type === 'position') {
      this.#played = message.position;
      this.#fill();
      this.#handlers.on_position(message.position);
    } else if (message.type === 'ended') {
      this.#handlers.on_ended();
    } else if (message.type === 'capture') {
      this.#handlers.on_capture?.(message);
    }
  }
}
