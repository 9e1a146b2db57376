// A web frame, {"frame": {"tag": 97, "url": s, "seq": n, "transparent": bool}}: an <iframe>
// that fills the screen below the navigation bar and shows `url` (a path of this server, or
// an http(s) address the page's policy lets it frame), loaded afresh for each new seq. It is
// named for a screen reader by the screen's title.
//
// How each load goes is reported to the application as "frame:<tag>" events, value
// {seq, code}: "start" when a load begins (the url of a new seq, and each page the user
// opens inside the frame), then exactly one "finish" or "fail" with a code:
//   -1004  nothing answered at the address (connection refused, unknown host, or refused
//          by the page's policy)
//   -1001  no page within 60 s
//   -1002  not an address a frame can show
//   -999   the user opened another page inside the frame before this one had loaded
// The reports go straight to POST /api/event, one after another, not through input.js:
// they say what the browser did, not what the user tapped on a snapshot, so the
// application takes them whatever version the page has drawn; no answer is needed.
//
// How a failure is seen: an iframe fires "load" also when its page did not load (Chromium
// and Firefox both put their error page in it), and the page cannot look into a frame of
// another origin. So a load has ended well when the frame shows a page of this origin (an
// http(s) document: Firefox's error page, readable to us, is about:neterror). Otherwise
// the address is asked again with fetch(url, {mode: 'no-cors'}): that answers, opaquely,
// when any server answered at all (whatever the status), and rejects when none did
// (refused, unknown host, TLS failure, refused by the policy), in both browsers.
//
// Pages opened inside the frame: on a page of this origin a followed link (or a reload)
// shows as "beforeunload", which neither a fragment link nor the frame's removal fires,
// and a click on a link says where it goes. A page of another origin cannot be watched:
// what the user opens inside it is not reported.
import { h } from './dom.js';

const kLoadTimeout = 60_000;
const kTimedOut = -1001;
const kUnsupported = -1002;
const kCannotConnect = -1004;
const kCancelled = -999;

// One report at a time, in the order made.
let reports = Promise.resolve();
function report(target, action, value) {
  const body = JSON.stringify({ version: 0, target, action, value });
  reports = reports.then(() => fetch('/api/event', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body })
    .catch(() => {}));
}

// The absolute address the frame loads, or null when it is not an http(s) one.
function frameAddress(url) {
  try {
    const address = new URL(String(url), location.href);
    return /^https?:$/.test(address.protocol) ? address.href : null;
  } catch {
    return null;
  }
}

// The frame's document when this page may look into it, else null.
function readable(frame) {
  try {
    return frame.contentDocument ?? null;
  } catch {
    return null;
  }
}

// Whether any server answers at the address.
function answers(address) {
  return fetch(address, { mode: 'no-cors', cache: 'no-store' }).then(() => true, () => false);
}

export class WebFrame {
  constructor() {
    this.root = h('div', 'webframe');
    Object.assign(this.root.style, { flex: '1 1 0', minHeight: '0', display: 'flex' });
    this.frame = null;  // the iframe of the current seq
    this.seq = null;
    this.target = '';
    this.load = null;   // the load under way: {destination, timer}
  }

  update(part, title) {
    this.target = `frame:${Number(part.tag) || 0}`;
    if (part.seq !== this.seq) {
      this.seq = part.seq;
      this.open(part.url);
    }
    this.frame.title = String(title || 'Page');
    this.frame.style.background = part.transparent ? 'transparent' : '#fff';
  }

  open(url) {
    if (this.load) clearTimeout(this.load.timer);
    this.load = null;  // a load of an older seq: the application no longer listens for it
    this.frame?.remove();
    const frame = h('iframe');
    Object.assign(frame.style, { flex: '1 1 0', minWidth: '0', border: '0', display: 'block' });
    frame.addEventListener('load', () => this.loaded(frame));
    this.frame = frame;
    const address = frameAddress(url);
    this.begin(address ?? String(url));
    if (!address) {
      this.end('fail', kUnsupported);
      return;
    }
    frame.src = address;  // before the frame is in the page: no load of about:blank first
    frame.placed = true;
    this.root.append(frame);
  }

  begin(destination) {
    if (this.load) this.end('fail', kCancelled);
    this.load = { destination, timer: setTimeout(() => this.end('fail', kTimedOut), kLoadTimeout) };
    report(this.target, 'start', { seq: this.seq });
  }

  // The end of the load under way, when its frame is still on the page (a frame whose
  // screen has gone reports nothing more).
  end(action, code) {
    if (!this.load) return;
    clearTimeout(this.load.timer);
    this.load = null;
    if (this.frame?.placed && !this.frame.isConnected) return;
    report(this.target, action, action === 'fail' ? { seq: this.seq, code } : { seq: this.seq });
  }

  async loaded(frame) {
    const doc = readable(frame);
    if (frame !== this.frame || !this.load || doc?.URL === 'about:blank') return;
    if (doc && /^https?:/.test(doc.URL)) {
      this.watch(frame, doc);
      this.end('finish');
      return;
    }
    const load = this.load;
    const answered = await answers(load.destination);
    if (this.load === load) this.end(answered ? 'finish' : 'fail', kCannotConnect);
  }

  // Follows the pages the user opens from this one (a page of this origin).
  watch(frame, doc) {
    const win = frame.contentWindow;
    let destination = null;
    doc.addEventListener('click', (ev) => {
      const link = ev.target?.closest?.('a[href]');  // the frame's own Element: no instanceof
      if (link && (!link.target || link.target === '_self')) destination = link.href;
    }, true);
    win.addEventListener('beforeunload', () => {
      if (frame === this.frame && frame.isConnected) this.begin(destination ?? win.location.href);
    });
  }
}
