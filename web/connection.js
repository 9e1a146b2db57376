// The page's link to voryx serve: the state (GET /api/state), its changes (the event
// stream, GET /api/events) and events out (POST /api/event).
//
// The stream carries a "ping" at least every 0.75 s when nothing else happens. A stream
// that ends, fails, or stays silent for 1.75 s counts as lost: the notice says so at once
// and the page keeps asking for the state, after 0.25, 0.5, 1, 2 and then every 4 s,
// until the server answers; then the notice goes, the state is drawn afresh (the server
// may have restarted and counted its versions from 1 again) and a new stream opens. A
// refused request (401, 403: the token is not this server's) gets its own notice and is
// retried like the rest: opening the printed address in another tab sets the cookie that
// brings this one back.
const kNotAnswering = 'Voryx is not answering; trying again\u2026';
const kEnded = 'This session has ended: open the address that voryx serve printed.';
const kSilence = 1750;
const kProbeTimeout = 1500;
const kBackoff = [250, 500, 1000, 2000, 4000];

export class Connection {
  // onState(state, fresh): a snapshot to draw; fresh when it follows a lost stream.
  // onNotice(text): the notice to show, '' for none.
  constructor({ onState, onNotice }) {
    this.onState = onState;
    this.onNotice = onNotice;
    this.source = null;
    this.watchdog = 0;
    this.attempt = 0;
  }

  start() {
    this.open();
  }

  open() {
    const source = new EventSource('/api/events');
    this.source = source;
    source.addEventListener('state', (ev) => {
      this.alive(source);
      let state;
      try {
        state = JSON.parse(ev.data);
      } catch {
        this.refresh();
        return;
      }
      this.onState(state, false);
    });
    source.addEventListener('ping', () => this.alive(source));
    source.addEventListener('error', () => this.lost(source));
    this.watch(source);
  }

  alive(source) {
    if (source !== this.source) return;
    this.attempt = 0;
    this.onNotice('');
    this.watch(source);
  }

  watch(source) {
    clearTimeout(this.watchdog);
    this.watchdog = setTimeout(() => this.lost(source), kSilence);
  }

  lost(source) {
    if (source !== this.source) return;
    source.close();
    this.source = null;
    clearTimeout(this.watchdog);
    this.onNotice(kNotAnswering);
    this.retry(true);
  }

  retry(fresh) {
    const delay = this.attempt === 0 ? 0 : kBackoff[Math.min(this.attempt - 1, kBackoff.length - 1)];
    this.attempt += 1;
    setTimeout(async () => {
      if (await this.refresh(fresh)) this.open();
      else this.retry(fresh);
    }, delay);
  }

  // Fetches the state and draws it; true when the server answered with it.
  async refresh(fresh = false) {
    try {
      const res = await fetch('/api/state', { cache: 'no-store', signal: AbortSignal.timeout(kProbeTimeout) });
      if (res.status === 401 || res.status === 403) {
        this.onNotice(kEnded);
        return false;
      }
      if (!res.ok) throw new Error(`status ${res.status}`);
      const state = await res.json();
      this.onNotice('');
      this.onState(state, fresh);
      return true;
    } catch {
      this.onNotice(kNotAnswering);
      return false;
    }
  }

  // Posts one event made against `version`; answers {status, body}, status 0 when the
  // server could not be reached.
  async post(e, version) {
    const event = { version, target: e.target, action: e.action };
    if (e.value !== undefined) event.value = e.value;
    try {
      const res = await fetch('/api/event', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(event),
      });
      const body = await res.json().catch(() => ({}));
      if (res.status === 401 || res.status === 403) this.onNotice(kEnded);
      return { status: res.status, body };
    } catch {
      return { status: 0, body: {} };
    }
  }
}
