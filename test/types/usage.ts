// Compiled with `tsc --noEmit` by test/js/types.test.js: the typings must accept real use and
// reject misuse (the @ts-expect-error lines fail the build if the typings stop catching them).
import {
  Recorder, MicInfo, StartOptions, RecordingStatus, getStatus, CameraInfo, listCameras, TracksFile, TrackEvent, TrackEventCode,
  MetaFile, InputRecord, CursorInfoFile, record, inspect, writeOverview, recover, listMics, listDevices, Inspection, RecoveredFile,
  DisplayInfo, listDisplays,
} from '../../lib';

const recorder = new Recorder();
const mics: MicInfo[] | null = recorder.getMics();
const cameras: CameraInfo[] = listCameras();
const displays: DisplayInfo[] = listDisplays();
const onDisplay: StartOptions = { display: displays.find((d) => d.primary)?.index ?? -1, area: [0, 0, 640, 480] };
const cameraName: string | undefined = cameras[0]?.name;
const options: StartOptions = {
  projectDir: '/tmp/take',
  area: [0, 0, 1280, 720],
  micIndex: mics && mics.length ? mics[0].index : -1,
  systemAudioIndex: 0,
  webcamIndex: cameras.length ? cameras[0].index : -1,
  fps: 30,
  constantFrameRate: true,
  bitrate: 8_000_000,
};
const started: undefined = recorder.start(options);
const ended: undefined = recorder.end();

const tracks: TracksFile = JSON.parse('{"tracks": []}');
const audioStarts: (number | null)[] = tracks.tracks.filter((t) => t.kind === 'microphone').map((t) => t.start);
// @ts-expect-error constantFrameRate is a boolean
recorder.start({ constantFrameRate: 1 });
recorder.start({ changesOnly: true });
// @ts-expect-error changesOnly is a boolean
recorder.start({ changesOnly: 'yes' });

// @ts-expect-error the area has four numbers
recorder.start({ area: [0, 0, 10] });
// @ts-expect-error projectDir is a string
recorder.start({ projectDir: 42 });
// @ts-expect-error start takes an options object
recorder.start();
// @ts-expect-error listCameras takes no argument
listCameras(0);

const status: RecordingStatus = getStatus();
const level: number = status.microphone.peak + status.systemAudio.peak;
const failed: string[] = status.failures.map((f) => `${f.track}: ${f.message}`);
// @ts-expect-error the status is read, not written
getStatus({});

// Events, stop, pause.
recorder.on('lost', (event: TrackEvent) => {
  const code: TrackEventCode = event.code;
  const when: number = event.time;
}).once('failure', (event) => void event.message.length);
// @ts-expect-error no such event
recorder.on('explode', () => {});
// @ts-expect-error the codes are a closed set
const notACode: TrackEventCode = 'kaboom';
const stopped: Promise<void> = recorder.stop();
const paused: boolean = recorder.pause() && recorder.resume();
const failureCodes: TrackEventCode[] = status.failures.map((f) => f.code);
const trackCode: TrackEventCode | null = tracks.tracks[0]?.code ?? null;

// The files.
const meta: MetaFile = JSON.parse('{}');
const metaTime: number = meta.time + meta.rx[2];
const positions: InputRecord[] = JSON.parse('[]');
const shapes: string[] = positions.filter((r) => r.type === 1).map((r) => r.cursorName);
const cursors: CursorInfoFile = JSON.parse('null');
void (cursors && cursors.Arrow?.isColor);

// The helpers an app builds on.
const micList: MicInfo[] | null = listMics();
const devices = listDevices();
void (devices.cameras ?? devices.cameraError);
const handle = record({ dir: '/tmp/take', seconds: 2, mic: false }, { onEvent: (kind, event) => void `${kind} ${event.code}` });
handle.finished.then((result) => {
  const looked: Inspection = inspect(result.dir);
  const picture: string = writeOverview(looked).file;
  const recovered: RecoveredFile[] = recover(result.dir);
});
// @ts-expect-error inspect takes a folder
inspect(42);
// @ts-expect-error the handle's options are start options
const wrong: string = handle.options;

const pausedFor: number = (tracks.pauses ?? []).reduce((sum, p) => sum + p.end - p.start, 0) + status.pausedMs;
const open: boolean = status.pauses.some((p) => p.end === null) === status.paused;
// Cursor images: the index and the timeline as an editor reads them.
import type { CursorImageIndex, CursorShown } from '../../lib';
const cursorIndex: CursorImageIndex = JSON.parse('{"images": []}');
const hotspots: [number, number][] = cursorIndex.images.map((image) => [image.hotX, image.hotY]);
const shownIds: (string | null)[] = (JSON.parse('[]') as CursorShown[]).map((entry) => entry.id);
recorder.start({ cursorImages: false });
// @ts-expect-error cursorImages is a boolean
recorder.start({ cursorImages: 'no' });
