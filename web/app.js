// The page: keeps the latest snapshot on screen, opens the URLs the application asks
// for, keeps the screen awake while it is busy, and wires the renderer, the connection
// and the input together.
import { Connection } from './connection.js';
import { Input } from './input.js';
import { showNotice } from './kinds/notice.js';
import { Renderer } from './render.js';

const frame = document.getElementById('frame');
const notice = document.getElementById('notice');
const renderer = new Renderer(frame);

let state = null;
let renderedVersion = 0;

// Sequence numbers already acted on: URLs to open and list scrolls happen once each. What
// the first snapshot already holds was for an earlier page and is not repeated.
function freshSeen() {
  return {
    first: true,
    scrollSeq: null,
    urlSeq: -1,
    scroll(seq) {
      const isNew = !this.first && seq !== this.scrollSeq;
      this.scrollSeq = seq;
      return isNew;
    },
  };
}
let seen = freshSeen();

// fresh: the snapshot follows a lost connection; the server may be a new one whose
// versions and sequence numbers started again, so it is drawn whatever its version.
function apply(next, fresh) {
  if (!next || typeof next !== 'object') return;
  const version = Number(next.version) || 0;
  if (fresh) seen = freshSeen();
  else if (state && version < renderedVersion) return;
  state = next;
  renderedVersion = version;
  renderer.render(state, seen);
  const stack = Array.isArray(state.navigation) ? state.navigation : [];
  const title = (state.modal ?? stack[stack.length - 1])?.title;
  document.title = title ? `${title} \u2013 Voryx` : 'Voryx';
  openRequestedUrls(state.openURL);
  keepAwake(Boolean(state.window?.idleTimerDisabled));
  seen.first = false;
}

// --- URLs the application asks the browser to open: tel: links and downloads ----------

function openRequestedUrls(requests) {
  if (!Array.isArray(requests)) return;
  for (const { url, seq } of requests) {
    if (typeof seq !== 'number' || seq <= seen.urlSeq) continue;
    seen.urlSeq = seq;
    if (!seen.first && typeof url === 'string') openUrl(url);
  }
}

function openUrl(url) {
  const a = document.createElement('a');
  if (/^tel:/i.test(url)) {
    a.href = `tel:${url.replace(/^tel:(\/\/)?/i, '')}`;
  } else {
    let target;
    try {
      target = new URL(url, location.href);
    } catch {
      return;
    }
    if (!/^https?:$/.test(target.protocol)) return;
    a.href = target.href;
    if (target.origin === location.origin) a.download = '';
    else a.target = '_blank';
    a.rel = 'noopener';
  }
  document.body.append(a);
  a.click();
  a.remove();
}

// --- Screen Wake Lock while the application keeps the idle timer off ------------------

let wakeLock = null;
let wantAwake = false;

async function keepAwake(on) {
  wantAwake = on;
  if (on && !wakeLock && navigator.wakeLock && document.visibilityState === 'visible') {
    try {
      const lock = await navigator.wakeLock.request('screen');
      if (!wantAwake) await lock.release();
      else {
        wakeLock = lock;
        lock.addEventListener('release', () => {
          if (wakeLock === lock) wakeLock = null;
        });
      }
    } catch {
      // Refused (no user gesture yet, or not supported): the screen may dim.
    }
  } else if (!on && wakeLock) {
    const lock = wakeLock;
    wakeLock = null;
    await lock.release().catch(() => {});
  }
}
document.addEventListener('visibilitychange', () => keepAwake(wantAwake));

const connection = new Connection({ onState: apply, onNotice: (text) => showNotice(notice, text) });
new Input(frame, renderer, connection, () => renderedVersion);
connection.start();
