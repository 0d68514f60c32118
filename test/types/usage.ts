// Compiled with `tsc --noEmit` by test/js/types.test.js: the typings must accept real use and
// reject misuse (the @ts-expect-error lines fail the build if the typings stop catching them).
import { Recorder, MicInfo, StartOptions, RecordingStatus, getStatus, CameraInfo, listCameras, TracksFile, DisplayInfo, listDisplays } from '../../lib';

const recorder = new Recorder();
const mics: MicInfo[] | null = recorder.getMics();
const cameras: CameraInfo[] = listCameras();
const displays: DisplayInfo[] = listDisplays();
const onDisplay: StartOptions = { display: displays.find((d) => d.primary)?.index ?? -1, area: [0, 0, 640, 480] };
void onDisplay;
const cameraName: string | undefined = cameras[0]?.name;
void cameraName;
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
void started;
void ended;

const tracks: TracksFile = JSON.parse('{"tracks": []}');
const audioStarts: (number | null)[] = tracks.tracks.filter((t) => t.kind === 'microphone').map((t) => t.start);
void audioStarts;
// @ts-expect-error constantFrameRate is a boolean
recorder.start({ constantFrameRate: 1 });

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
void level;
void failed;
// @ts-expect-error the status is read, not written
getStatus({});

// Cursor images: the index and the timeline as an editor reads them.
import type { CursorImageIndex, CursorShown } from '../../lib';
const cursorIndex: CursorImageIndex = JSON.parse('{"images": []}');
const hotspots: [number, number][] = cursorIndex.images.map((image) => [image.hotX, image.hotY]);
const shownIds: (string | null)[] = (JSON.parse('[]') as CursorShown[]).map((entry) => entry.id);
void hotspots;
void shownIds;
recorder.start({ cursorImages: false });
// @ts-expect-error cursorImages is a boolean
recorder.start({ cursorImages: 'no' });
