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
  /**
   * Which of the camera's native formats `webcam.mp4` records (the list is in `recorder.log`,
   * the choice too). `'first'` (default): the first one the camera lists, or the first one that
   * can be recorded when it cannot (MJPG is decoded before the encoder). `'best'`: the largest
   * frame up to 1920x1080 at 24 fps or more; at equal size the higher rate, then uncompressed
   * before MJPG. `{ width, height, fps }`: the format nearest to that size, then to that rate.
   * Anything else throws a TypeError. Kept for later recordings.
   */
  webcamFormat?: WebcamFormat;
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
   * `true`: `output.mp4` gets a sample only when the picture changed (the mouse pointer alone is
   * no change), at once and timed when it was captured; the first sample is written at the start
   * and the last one lasts until `end()`. A still desktop costs next to nothing. `false`
   * (default): one sample per capture pass. Cannot be combined with `constantFrameRate` (a
   * TypeError). Kept for later recordings.
   */
  changesOnly?: boolean;
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

/** How {@link StartOptions.webcamFormat} chooses the camera's format. */
export type WebcamFormat = 'first' | 'best' | { width: number; height: number; fps: number };

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
/** What happened to a track, as the {@link Recorder}'s events say it. */
export type TrackEventKind = 'failure' | 'lost' | 'back' | 'outage' | 'warning';

/**
 * Why, for programs:
 * - `openFailed`: the device or source could not be opened or started;
 * - `deviceLost` / `deviceBack`: a device that was recording went away / came back;
 * - `writeFailed`: the track's file could not be written; `diskFull`: because the disk is full;
 * - `unsupportedFormat`: the device delivers nothing the recorder can encode;
 * - `deviceBusy`: another application holds the device;
 * - `accessDenied`: the system or the user refused access (privacy settings, a secure desktop);
 * - `noSoundServer` / `noDisplay`: no sound server / no display could be reached;
 * - `captureOutage`: the screen could not be captured for a while;
 * - `deviceChanged`: the track moved to another device (a new default output);
 * - `clockDrift`: the device's clock runs off the recording's;
 * - `runawayDevice`: the device delivers far faster or slower than its rate;
 * - `partialCapture`: only part of the screen can be seen;
 * - `queueFull`: records were lost because a queue was full;
 * - `captureFailed`: the screen or camera stopped delivering images for good;
 * - `formatChanged`: the device changed its format mid-stream;
 * - `sizeLimit`: the file outgrew what its format can count (a WAV past 4 GB);
 * - `other`: anything else (the message says what).
 */
export type TrackEventCode =
  | 'openFailed' | 'deviceLost' | 'deviceBack' | 'writeFailed' | 'diskFull' | 'unsupportedFormat'
  | 'deviceBusy' | 'accessDenied' | 'noSoundServer' | 'noDisplay' | 'captureOutage' | 'deviceChanged'
  | 'clockDrift' | 'runawayDevice' | 'partialCapture' | 'queueFull' | 'other' | 'captureFailed'
  | 'formatChanged' | 'sizeLimit';

/** A track's name in events, the live status and tracks.json ("keepAlive": the system-audio keep-alive). */
export type TrackName = 'screen' | 'webcam' | 'microphone' | 'systemAudio' | 'keepAlive' | 'input';

/** One event of a track, emitted as it happens. */
export interface TrackEvent {
  track: TrackName;
  code: TrackEventCode;
  /** The line the track wrote to `recorder.log`. */
  message: string;
  /** When it happened: ms since 1970 (fractional), the clock of `meta.json` "time". */
  time: number;
}

/**
 * Records the desktop as separate tracks (see below). An `EventEmitter` of its tracks' events:
 * "failure" (the track stopped for good or never started), "lost" (its device went away; the
 * recorder tries to get it back), "back" (it is back, in the same file), "outage" (the source
 * delivers nothing for a while), "warning" (the track goes on, but something is worth knowing).
 * Events come on the JavaScript thread, soon after they happen; a listener that throws is an
 * uncaught error.
 */
export class Recorder {
  constructor();
  on(event: TrackEventKind, listener: (event: TrackEvent) => void): this;
  once(event: TrackEventKind, listener: (event: TrackEvent) => void): this;
  addListener(event: TrackEventKind, listener: (event: TrackEvent) => void): this;
  off(event: TrackEventKind, listener: (event: TrackEvent) => void): this;
  removeListener(event: TrackEventKind, listener: (event: TrackEvent) => void): this;
  removeAllListeners(event?: TrackEventKind): this;
  listenerCount(event: TrackEventKind): number;
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
  /**
   * Ends the recording like `end()` (the same files, log lines and standard-output line), but
   * finishes the files on another thread: the promise resolves once every file is complete and
   * rejects (Error "No recording is running") only when there is no recording to stop. While it
   * is under way, `stop()` returns the same promise, `end()` waits for it and `start()` throws.
   * The process stays up until it settles.
   */
  stop(): Promise<void>;
  /**
   * Pauses every track together: the files leave the paused time out, and `tracks.json` lists
   * the pause. True when a running recording is now paused; false when none runs or it already is.
   */
  pause(): boolean;
  /** Goes on after `pause()`; true when the recording was paused. */
  resume(): boolean;
  /** Lists the audio capture devices; `null` (after a thrown TypeError) when they cannot be listed. */
  getMics(): MicInfo[] | null;
}

/** Live figures of one audio track. */
export interface AudioTrackStatus {
  /** 16000 Hz frames captured so far. */
  frames: number;
  /** Largest sample magnitude of the last complete 100 ms of audio, 0 (silence) to 1 (full scale). */
  peak: number;
  /** How fast the device's clock runs against the recording's, in ppm (positive: too many frames); null until measured. */
  rateErrorPpm: number | null;
  /** Audio the resampling has added to keep the file on the clock so far, in ms (negative: removed). */
  correctionMs: number;
}

/** A track that stopped with an error while recording. */
export interface TrackFailure {
  /** Which track ("keepAlive": the system-audio keep-alive). */
  track: TrackName;
  /** The line that track wrote to `recorder.log`. */
  message: string;
  /** Why, for programs. */
  code: TrackEventCode;
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
  /**
   * Samples written to `webcam.mp4`; `gaps`: how often the camera went away and came back (each
   * such stretch is listed in `tracks.json`). While it is away, `failures` lists the webcam.
   */
  webcam: { samples: number; gaps: number };
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
  /** True between `pause()` and `resume()`. */
  paused: boolean;
  /** Milliseconds paused so far, the current pause included: `elapsedMs - pausedMs` is in the files. */
  pausedMs: number;
  /** The recording's pauses; `end` is null while the pause lasts. */
  pauses: { start: number; end: number | null }[];
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
  /** Audio: the device's measured rate error in ppm (positive: too many frames), null when not measured. */
  rateErrorPpm?: number | null;
  /** Audio: ms of audio the drift resampling added (negative: removed). */
  correctionMs?: number;
  /** Audio: device frames left out because they lay ahead of the clock. */
  droppedFrames?: number;
  /** "recorded"; "failed" (with `reason`, the track's line in `recorder.log`); "empty" when nothing was captured. */
  status: 'recorded' | 'failed' | 'empty';
  reason: string;
  /**
   * Webcam only: stretches of `webcam.mp4` without frames because the camera was away (busy,
   * blocked, unplugged), in ms from the file's start; empty when it never was.
   */
  gaps?: Array<{ from: number; to: number }>;
  /** A failed track's code (as its event and the live status said it); null otherwise. */
  code: TrackEventCode | null;
  /** Only where the track had any: what is worth knowing about it (see `RecordingStatus.warnings`). */
  warnings?: { code: string; message: string }[];
}

/** A pause of the recording, in wall-clock ms (fractional, like `TrackEntry.start`). */
export interface RecordingPause {
  start: number;
  end: number;
}

/** The content of `tracks.json`, written by `end()` beside `meta.json`. */
export interface TracksFile {
  /**
   * What the files leave out: a wall-clock moment after a pause is on the media's clock less the
   * pauses that ended before it. Absent in files of versions without pause.
   */
  pauses?: RecordingPause[];
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

/** The content of `meta.json`: eleven keys, always all present. */
export interface MetaFile {
  /** Frames per second of `output.mp4`. */
  fps: number;
  /** Size of `output.mp4` in pixels. */
  width: number;
  height: number;
  /** Wall-clock ms since 1970 of the first sample of `output.mp4` (0 when none was written in this process). */
  time: number;
  /** The capture area as recorded: left, top, right, bottom; all 0 for the whole output. */
  rx: [number, number, number, number];
  /** The devices as the recording used them; -1: no such track. */
  micIndex: number;
  systemAudioIndex: number;
  /** Always 1 and 16000: the format of `mivox.wav` and `output.wav` (the keys are spelled so). */
  micChannels: number;
  micSimpleRate: number;
  playbackChannels: number;
  playbackSimpleRate: number;
}

/** One record of `positions.json` (type 0: move, 1: drag) or `clicks.json` (type 0: press, 1: release). */
export interface InputRecord {
  /** Screen pixels; negative left of or above the primary display. */
  x: number;
  y: number;
  type: 0 | 1;
  /** The mouse-button field as the input hook delivers it. */
  button: number;
  /** The cursor shape on screen: a standard name ("Arrow", "IBeam", "Hand", ...) or "Unknown". */
  cursorName: string;
  /** Wall-clock ms since 1970, the clock of `meta.json` "time". */
  time: number;
}

/** `positions.json` and `clicks.json`. */
export type InputRecordsFile = InputRecord[];

/** One standard cursor of `cursor_info.json`. */
export interface CursorInfo {
  x: number;
  y: number;
  width: number;
  height: number;
  isColor: boolean;
}

/** `cursor_info.json`: the standard cursors by name, or null when none could be measured. */
export type CursorInfoFile = Record<string, CursorInfo> | null;

/** The microphones {@link Recorder.getMics} lists; null when the audio system cannot list them. */
export function listMics(): MicInfo[] | null;

/** Both device lists at once; a list that cannot be had is null, with the reason beside it. */
export function listDevices(): { mics: MicInfo[] | null; micError?: string; cameras: CameraInfo[] | null; cameraError?: string };

/** Options of {@link record}, as people type them on the command line. */
export interface RecordOptions {
  /** The project folder; default recordings/<date-time> under the current directory. */
  dir?: string;
  /** Stop after this many seconds; default: when `stop()` is called. */
  seconds?: number | string;
  /** "left,top,right,bottom". */
  area?: string;
  /** A microphone by index or (part of its) name; false for none; default the first that is not an output's monitor. */
  mic?: number | string | false;
  /** false: no system audio (default: recorded). */
  systemAudio?: boolean;
  /** A camera index. */
  webcam?: number | string;
  fps?: number | string;
  bitrate?: number | string;
  /** A constant frame rate (StartOptions.constantFrameRate). */
  constantRate?: boolean;
}

/** What {@link record} hands back at once. */
export interface RecordHandle {
  /** Starts stopping (once); `finished` settles when the files are complete. */
  stop(): void;
  pause(): boolean;
  resume(): boolean;
  finished: Promise<RecordResult>;
  /** The options given to `Recorder.start`. */
  options: StartOptions;
  recorder: Recorder;
}

export interface RecordResult {
  dir: string;
  options: StartOptions;
  /** The status once every file was complete. */
  status: RecordingStatus;
  inspection: Inspection;
}

/**
 * Records into a folder until `seconds` have passed or the handle's `stop()` is called. Throws
 * an Error named "UsageError" for options that cannot work; `finished` rejects when the recording
 * cannot start.
 */
export function record(
  options: RecordOptions,
  callbacks?: {
    /** Every `statusEveryMs` (default 250) until the recording stops. */
    onStatus?: (status: RecordingStatus) => void;
    onStopping?: () => void;
    onEvent?: (kind: TrackEventKind, event: TrackEvent) => void;
    statusEveryMs?: number;
  }
): RecordHandle;

/** One file of an inspected recording. */
export interface InspectionRow {
  file: string;
  track: string;
  status: 'ok' | 'broken' | 'missing';
  format: string;
  /** Length of the media, ms; null for what has none. */
  durationMs: number | null;
  /** Where it starts against the screen video's first sample, ms; null when unknown. */
  startMs: number | null;
  /** True when the start is estimated rather than taken from tracks.json. */
  estimatedStart: boolean;
  detail: string;
  size?: number | null;
}

export interface Inspection {
  dir: string;
  /** True when every row is "ok". */
  ok: boolean;
  meta: MetaFile | null;
  rows: InspectionRow[];
  /** The input records read, by file name. */
  inputRecords: { 'positions.json'?: InputRecord[]; 'clicks.json'?: InputRecord[] };
}

/**
 * Checks every file of the recording in `dir`. Never throws for a damaged recording: each
 * problem is a row with status "broken" or "missing".
 */
export function inspect(dir: string): Inspection;

/** Draws an inspected recording's tracks on one time axis into a PNG (default <dir>/overview.png). */
export function writeOverview(
  inspection: Inspection,
  options?: { file?: string }
): { file: string; width: number; height: number; regions: Record<string, { x: number; y: number; width: number; height: number }> };
