// The page: keeps the latest snapshot on screen and sends the user's touches back.
// Every touch goes first to the window ("window"/"touch"); only a touch the window did not
// consume reaches the element under the finger. Events go one at a time, in order, each
// carrying the version of the state it was made against.
import { Renderer } from './render.js';

const frame = document.getElementById('frame');
const notice = document.getElementById('notice');
const renderer = new Renderer(frame);

let state = null;
let renderedVersion = 0;

// Sequence numbers already acted on: URLs to open and list scrolls happen once each. What
// the first snapshot already holds was for an earlier page and is not repeated.
const seen = {
  first: true,
  scrollSeq: null,
  urlSeq: -1,
  scroll(seq) {
    const fresh = !this.first && seq !== this.scrollSeq;
    this.scrollSeq = seq;
    return fresh;
  },
};

function showNotice(text) {
  notice.textContent = text;
  notice.hidden = !text;
}

function apply(next) {
  if (!next || typeof next !== 'object') return;
  const version = Number(next.version) || 0;
  if (state && version < renderedVersion) return;
  state = next;
  renderedVersion = version;
  renderer.render(state, seen);
  openRequestedUrls(state.openURL);
  keepAwake(Boolean(state.window?.idleTimerDisabled));
  seen.first = false;
}

async function refresh() {
  try {
    const res = await fetch('/api/state', { cache: 'no-store' });
    if (res.status === 401 || res.status === 403) {
      showNotice('This session has ended: open the address that voryx serve printed.');
      return;
    }
    if (!res.ok) return;
    showNotice('');
    apply(await res.json());
  } catch {
    showNotice('Voryx is not answering.');
  }
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

// --- Events out, one at a time -------------------------------------------------------

// Each entry is either an event or a function that, when its turn comes, makes the event
// (or nothing) from what is on screen then.
const queue = [];
let sending = false;

// retry: 'again' re-sends once against fresh state after a 409 (touches and typed text
// stay meaningful); 'drop' does not.
function send(target, action, value, retry = 'drop') {
  if (action === 'change') {
    // Typing faster than the round trips: only the latest text matters.
    const pending = queue.find((e) => e.target === target && e.action === 'change');
    if (pending) {
      pending.value = value;
      return pending.answer;
    }
  }
  return enqueue({ target, action, value, retry });
}

function enqueue(entry) {
  entry.answer = new Promise((resolve) => (entry.resolve = resolve));
  queue.push(entry);
  pump();
  return entry.answer;
}

async function pump() {
  if (sending) return;
  sending = true;
  while (queue.length) {
    const entry = queue.shift();
    const e = entry.make ? await entry.make() : entry;
    let answer = { status: 0, body: {} };
    if (e) {
      answer = await post(e, renderedVersion);
      if (answer.status === 409) {
        await refresh();
        if (e.retry === 'again') answer = await post(e, renderedVersion);
      }
      if (answer.status === 200 && Number(answer.body.version) > renderedVersion) await refresh();
    }
    entry.resolve(answer);
  }
  sending = false;
}

async function post(e, version) {
  const event = { version, target: e.target, action: e.action };
  if (e.value !== undefined) event.value = e.value;
  try {
    const res = await fetch('/api/event', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(event),
    });
    const body = await res.json().catch(() => ({}));
    if (res.status === 401 || res.status === 403) showNotice('This session has ended: open the address that voryx serve printed.');
    return { status: res.status, body };
  } catch {
    return { status: 0, body: {} };
  }
}

// --- Touches --------------------------------------------------------------------------

function framePoint(ev) {
  const r = frame.getBoundingClientRect();
  return {
    x: Math.round((((ev.clientX - r.left) * 320) / r.width) * 10) / 10,
    y: Math.round((((ev.clientY - r.top) * 480) / r.height) * 10) / 10,
  };
}

function touchable(el) {
  return el instanceof Element ? el.closest('[data-target]') : null;
}

function elementEvent(el) {
  const { target, action, value } = el.dataset;
  return { target, action, value: value === undefined ? undefined : JSON.parse(value) };
}

function windowTouch(ev, phase, tapCount) {
  const { x, y } = framePoint(ev);
  // Alerts and sheets sit outside the navigation view, as on the phone.
  const inList = !ev.target.closest('#alert-layer, #sheet-layer');
  return send('window', 'touch', { x, y, tapCount, phase, inList }, 'again');
}

let pressed = null;  // {element, down}

function touchDown(ev, tapCount) {
  pressed = { element: touchable(ev.target), down: windowTouch(ev, 'down', tapCount) };
}

// The element gets the tap when the window consumed neither half of the touch, and when
// it is still the element under the finger once the events before it have been handled.
function touchUp(ev, tapCount) {
  const p = pressed;
  pressed = null;
  const up = windowTouch(ev, 'up', tapCount);
  if (!p || !p.element || touchable(ev.target) !== p.element) return;
  const { clientX, clientY } = ev;
  enqueue({
    make: async () => {
      const [down, answer] = await Promise.all([p.down, up]);
      if (down.status !== 200 || answer.status !== 200 || down.body.consumed || answer.body.consumed) return null;
      const el = touchable(document.elementFromPoint(clientX, clientY));
      if (!el || el !== p.element) return null;
      return deliver(el);
    },
  });
}

function deliver(el) {
  const e = elementEvent(el);
  const input = renderer.searchInput;
  if (e.action === 'cancel' && input) {
    input.value = '';
    setTimeout(() => input.blur());
  }
  return e;
}

// A mouse reports its click count in `detail`; a touch screen's pointer events do not,
// so taps are counted here: the next tap within 400 ms and 30 points continues the count.
let lastTouch = { time: -Infinity, x: 0, y: 0, count: 0 };

frame.addEventListener('pointerdown', (ev) => {
  if (ev.pointerType === 'mouse' || !ev.isPrimary) return;
  const { x, y } = framePoint(ev);
  const near = Math.abs(x - lastTouch.x) < 30 && Math.abs(y - lastTouch.y) < 30;
  const count = ev.timeStamp - lastTouch.time < 400 && near ? lastTouch.count + 1 : 1;
  lastTouch = { time: ev.timeStamp, x, y, count };
  touchDown(ev, count);
}, true);
frame.addEventListener('pointerup', (ev) => {
  if (ev.pointerType === 'mouse' || !ev.isPrimary) return;
  touchUp(ev, lastTouch.count);
}, true);
frame.addEventListener('pointercancel', () => {
  pressed = null;  // the finger scrolled the list: no tap
}, true);

function fromTouch(ev) {
  // The mouse events a browser makes up after a touch were handled as pointer events.
  return ev.sourceCapabilities?.firesTouchEvents || ev.timeStamp - lastTouch.time < 1000;
}
frame.addEventListener('mousedown', (ev) => {
  if (ev.button !== 0 || fromTouch(ev)) return;
  // A tap elsewhere leaves the search field in editing, as on the phone.
  if (document.activeElement === renderer.searchInput && ev.target !== renderer.searchInput) ev.preventDefault();
  touchDown(ev, ev.detail || 1);
}, true);
frame.addEventListener('mouseup', (ev) => {
  if (ev.button !== 0 || fromTouch(ev)) return;
  touchUp(ev, ev.detail || 1);
}, true);

// Keyboard activation (Enter or Space on a focused element) is no touch: straight through.
frame.addEventListener('keydown', (ev) => {
  const el = touchable(ev.target);
  if (!el || (ev.key !== 'Enter' && ev.key !== ' ')) return;
  ev.preventDefault();
  enqueue({ make: async () => (el.isConnected ? deliver(el) : null) });
});

// --- The search field ------------------------------------------------------------------

frame.addEventListener('focusin', (ev) => {
  if (ev.target.matches('.searchbar input')) send(ev.target.dataset.id, 'begin');
});
frame.addEventListener('focusout', (ev) => {
  if (ev.target.matches('.searchbar input')) send(ev.target.dataset.id, 'end');
});
frame.addEventListener('input', (ev) => {
  if (ev.target.matches('.searchbar input')) send(ev.target.dataset.id, 'change', ev.target.value, 'again');
});
frame.addEventListener('keydown', (ev) => {
  if (!ev.target.matches('.searchbar input') || ev.key !== 'Enter') return;
  ev.preventDefault();
  send(ev.target.dataset.id, 'search', undefined, 'again');
  ev.target.blur();
});

// --- Updates in ------------------------------------------------------------------------

function connect() {
  const source = new EventSource('/api/events');
  source.addEventListener('open', () => refresh());
  source.addEventListener('state', (ev) => {
    try {
      showNotice('');
      apply(JSON.parse(ev.data));
    } catch {
      refresh();
    }
  });
  source.addEventListener('error', () => {
    // The browser retries dropped streams itself; a refused one (too many streams, or the
    // server gone and back with a new token) is retried here.
    if (source.readyState === EventSource.CLOSED) {
      refresh();
      setTimeout(connect, 3000);
    }
  });
}

refresh();
connect();
