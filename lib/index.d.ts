// Type definitions for desktracks.

/** Options of {@link Recorder.start}. Keys left out keep the value the instance holds. */
export interface StartOptions {
  /**
   * Capture area in pixels of the recorded display (0, 0 is its top-left pixel): [left, top,
   * right, bottom], right and bottom exclusive. In force only when right and bottom are both
   * non-zero; otherwise the whole display is recorded. Reset to [0, 0, 0, 0] by `end()`.
   */
  area?: [number, number, number, number];
  /**
   * Index in `listDisplays()` of the display to record into `output.mp4`. -1 (default): output 0
   * of the first adapter in high-performance order, or the primary display when that adapter
   * cannot be duplicated (the discrete GPU of a hybrid laptop). Anything but a whole number from
   * -1 to 255 throws a TypeError; an index that does not exist ends the screen track with a
   * failure line. Reset to -1 by `end()`.
   */
  display?: number;
  /**
   * Folder that receives every file of the recording; created (all levels) when missing.
   * Empty means the current directory. Kept for later recordings.
   */
  projectDir?: string;
  /** Position in `getMics()` of the microphone to record into `mivox.wav`; -1 (default) for none. Reset by `end()`. */
  micIndex?: number;
  /** Any value but -1 records the default output device into `output.wav`; -1 (default) for none. Reset by `end()`. */
  systemAudioIndex?: number;
  /**
   * Position in `listCameras()` of the camera to record into `webcam.mp4`; -1 (default) for none.
   * Kept for later recordings.
   */
  webcamIndex?: number;
  /** Average bit rate of `output.mp4` in bits per second (default 18000000). Kept for later recordings. */
  bitrate?: number;
  /** Nominal frame rate of `output.mp4` (default 30). Kept for later recordings. */
  fps?: number;
  /**
   * `true`: `output.mp4` gets exactly `fps` samples a second, at times on an exact 1/`fps` grid,
   * each the newest desktop image (a still desktop repeats it), for editors that mishandle a
   * variable frame rate. `false` (default): one sample per capture pass, timed as captured.
   * Kept for later recordings.
   */
  constantFrameRate?: boolean;
  /**
   * `true` (default): every distinct cursor image shown during the recording is kept once as
   * `cursors/<id>.png` (straight alpha), described in `cursors/index.json` ({@link CursorImageIndex}),
   * with `cursors/timeline.json` ({@link CursorShown}[]) saying from when each was in force.
   * Kept for later recordings.
   */
  cursorImages?: boolean;
}

/** One entry of `cursors/index.json`'s `images`. */
export interface CursorImageInfo {
  /** 16 hex digits: a hash of the size, hotspot and pixels. The same image has the same id in every recording. */
  id: string;
  /** The PNG in `cursors/`: `<id>.png`. */
  file: string;
  width: number;
  height: number;
  /** The hotspot in image pixels: the point that sits at a record's x, y. */
  hotX: number;
  hotY: number;
  /** The display's scale when the image was captured (1 = 96 dpi); draw it at width / scale for a 1x look. */
  scale: number;
  /** Pixels that invert the screen (Windows monochrome cursors) were drawn black with a white outline. */
  outlined: boolean;
  /** The standard cursor it is ("Arrow", "IBeam", ...), or null. */
  standardName: string | null;
}

/** `cursors/index.json`. */
export interface CursorImageIndex {
  images: CursorImageInfo[];
}

/** One entry of `cursors/timeline.json`: from `time` (wall-clock ms, as in positions.json) on, the image `id` was shown; null: the pointer was hidden. */
export interface CursorShown {
  time: number;
  id: string | null;
}

/** One display of the desktop, as listed by {@link listDisplays}. */
export interface DisplayInfo {
  /** Position in the list: the value to pass as `display`. */
  index: number;
  /** The display's name as the system reports it (`\\.\\DISPLAY1`, a RandR monitor's name). */
  name: string;
  /** Its rectangle on the virtual desktop (the coordinates of `positions.json`), right and bottom exclusive. */
  left: number;
  top: number;
  right: number;
  bottom: number;
  /** The primary display (the one at 0, 0). Exactly one display is primary. */
  primary: boolean;
  /** The display's scale factor (1.5 at 150 %); always 1 on X11. */
  scale: number;
}

/**
 * Lists the displays in the order `display` chooses from: adapter by adapter, output by output
 * (Windows: DXGI outputs attached to the desktop; Linux: RandR monitors of the X screen). Throws
 * an Error "Failed to list displays" when the platform cannot list them (no X server).
 */
export function listDisplays(): DisplayInfo[];

/** One audio capture device, as listed by {@link Recorder.getMics}. */
export interface MicInfo {
  /** Position in the list: the value to pass as `micIndex`. */
  index: number;
  /** The device's name as the audio system reports it. */
  name: string;
}

/**
 * Records the desktop as separate tracks into a project directory:
 *
 * - `output.mp4`: the screen (H.264); `webcam.mp4`: the camera;
 * - `mivox.wav` (microphone) and `output.wav` (system audio): 16 kHz mono 16-bit PCM;
 * - `positions.json`, `clicks.json`: mouse moves, drags, presses and releases with wall-clock
 *   milliseconds and the cursor shape's name; `cursor_info.json`: the standard cursors' hotspots;
 * - `tracks.json`: every started track's file, device, wall-clock start, duration, count, losses
 *   and status ({@link TracksFile});
 * - `meta.json`: start time of the screen video (`time`, ms since 1970), its size and rate, the
 *   audio formats, the capture area and the chosen devices;
 * - `recorder.log`: every recorder's progress and failures (appended to).
 *
 * One recording runs at a time in a process.
 */
export class Recorder {
  constructor();
  /**
   * Starts a recording and returns at once. Throws a TypeError for malformed options, and an
   * Error when a recording already runs in the process or the log cannot be opened. A recorder
   * that fails later reports it in `recorder.log`; the other tracks go on.
   */
  start(options: StartOptions): undefined;
  /**
   * Stops the recording, waits until every file is complete, writes `meta.json` and prints its
   * quoted path on standard output. Does nothing when no recording runs.
   */
  end(): undefined;
  /** Lists the audio capture devices; `null` (after a thrown TypeError) when they cannot be listed. */
  getMics(): MicInfo[] | null;
}

/** Live figures of one audio track. */
export interface AudioTrackStatus {
  /** 16000 Hz frames captured so far. */
  frames: number;
  /** Largest sample magnitude of the last complete 100 ms of audio, 0 (silence) to 1 (full scale). */
  peak: number;
}

/** A track that stopped with an error while recording. */
export interface TrackFailure {
  /** Which track: "screen", "webcam", "microphone", "systemAudio", "keepAlive" (the system-audio keep-alive) or "input". */
  track: string;
  /** The line that track wrote to `recorder.log`. */
  message: string;
}

/**
 * A snapshot of the running recording, or of the last one once it has ended (until the next
 * `start`). All counts start at 0 with each `start`.
 */
export interface RecordingStatus {
  /** True from `start` until `end` has completed every file. */
  recording: boolean;
  /** Milliseconds since `start`; frozen when `end` completes. */
  elapsedMs: number;
  /** Samples written to `output.mp4`, in total and in the last whole second. */
  screen: { samples: number; samplesLastSecond: number };
  /** Samples written to `webcam.mp4`. */
  webcam: { samples: number };
  /** `mivox.wav`. */
  microphone: AudioTrackStatus;
  /** `output.wav`. */
  systemAudio: AudioTrackStatus;
  /** Records stored for `positions.json` and `clicks.json`. */
  input: { events: number };
  /**
   * Tracks that have stopped with an error, each once, in the order they failed. An audio track
   * whose device was lost is here while the device is missing ("mic: lost ...") and leaves again
   * when it is back; so does the keep-alive ("keepAlive") while the output is missing.
   */
  failures: TrackFailure[];
  /**
   * Things worth knowing about a track that go on recording, each code once per track: e.g.
   * `partialCapture` for the screen of a Wayland session (only X11 windows are visible) or
   * `noSoundServer` for a microphone recorded straight from ALSA.
   */
  warnings: TrackWarning[];
}

/** One entry of {@link RecordingStatus.warnings}. */
export interface TrackWarning {
  track: string;
  /** The event code's name, e.g. "partialCapture". */
  code: string;
  /** The line in `recorder.log`. */
  message: string;
}

/**
 * Reads the live status of the recording in this process. Cheap enough to call many times a
 * second: it reads counters the recorder threads keep with atomics.
 */
export function getStatus(): RecordingStatus;

/** One video capture device, as listed by {@link listCameras}. */
export interface CameraInfo {
  /** Position in the list: the value to pass as `webcamIndex`. */
  index: number;
  /** The device's name as the platform reports it. */
  name: string;
}

/**
 * Lists the cameras in the order `webcamIndex` chooses from (Linux: `/dev/video*` capture nodes
 * by number; Windows: Media Foundation's video capture sources). Throws an Error "Failed to list
 * cameras" when the platform cannot list them.
 */
export function listCameras(): CameraInfo[];

/** One capture device of {@link listMicDetails}: getMics()'s entry with what a default choice needs. */
export interface MicDetails {
  /** Position in `getMics()`: the value to pass as `micIndex`. */
  index: number;
  name: string;
  /** A device that is no microphone: ALSA's null device (endless zeros) or a plugin that names no sound card. */
  placeholder: boolean;
  /** False when no sound server answered and the list comes from the raw device layer (ALSA). */
  soundServer: boolean;
}

/** getMics()'s list with more about each device; null when the audio system cannot list them. */
export function listMicDetails(): MicDetails[] | null;

/** One entry of `tracks.json`: a track that was started. */
export interface TrackEntry {
  kind: 'screen' | 'webcam' | 'microphone' | 'systemAudio' | 'input';
  /** The track's file; the input track's are both in `files`. */
  file: string;
  files?: string[];
  /** The device as the system names it ("output 0" for the screen, "display N" when one was chosen). */
  device: string;
  /**
   * Screen only, once the display was duplicated: the recorded display's rectangle on the virtual
   * desktop. A point (x, y) of `positions.json` is at (x - left - area.left, y - top - area.top)
   * in the video (area from `meta.json`, zero without one). `rotation` (clockwise degrees) is
   * the display's; the video is upright whatever it is.
   */
  display?: { index: number; name: string; left: number; top: number; right: number; bottom: number; rotation: number };
  /** Wall-clock ms (fractional, the clock of `meta.json` `time`) when the first sample was captured; null when none was. */
  start: number | null;
  /** Length of the file in ms (input: from the hook's start to its end). */
  duration: number;
  /** Samples (video), frames (audio) or records (input) in the file, as `unit` says. */
  count: number;
  unit: 'samples' | 'frames' | 'events';
  /** Audio: frames of silence written for frames the device never delivered; input: moves the gate thinned; video: 0. */
  lost: number;
  /** "recorded"; "failed" (with `reason`, the track's line in `recorder.log`); "empty" when nothing was captured. */
  status: 'recorded' | 'failed' | 'empty';
  reason: string;
  /** Only where the track had any: what is worth knowing about it (see `RecordingStatus.warnings`). */
  warnings?: { code: string; message: string }[];
}

/** The content of `tracks.json`, written by `end()` beside `meta.json`. */
export interface TracksFile {
  tracks: TrackEntry[];
}

/** What `recover` did to one file of the project directory. */
export interface RecoveredFile {
  /** Name inside the directory, e.g. "output.mp4". */
  file: string;
  /** "unchanged": already finished; "recovered": mended or rebuilt; "failed": see `detail`. */
  status: 'unchanged' | 'recovered' | 'failed';
  /** Seconds of media the file holds now (videos and WAVs). */
  seconds?: number;
  detail: string;
}

/**
 * Finishes a recording whose process died (killed, crashed, powered off): the fragmented videos
 * become ordinary MP4 files, the WAV headers match their data, positions.json, clicks.json,
 * cursor_info.json and meta.json are rebuilt from the journal. Running it on a finished
 * recording changes nothing. Throws a TypeError for a non-string or a path with a NUL character,
 * an Error when `dir` is not a directory.
 */
export function recover(dir: string): RecoveredFile[];
