// The user's touches and keys, sent back as events. Every touch goes first to the window
// ("window"/"touch"); only a touch the window did not consume reaches the element under
// the finger. A key on a control (Enter, Space, Escape in a dialog) is no touch: its
// event goes straight to the element, as a tap would after an unconsumed touch. Events go
// one at a time, in order, each carrying the version of the state it was made against.
import { syncText } from './kinds/dom.js';
import { fitTextInput } from './kinds/textinput.js';

// A touch's position in points of the phone's 320x480 screen, whatever the window's
// size: the window's touch zones (the double-tap bands) are proportions of the screen.
function framePoint(frame, ev) {
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

// A text field's change that finds the application out of date with the page (409) is
// sent again against fresh state this many times; one it cannot reach at all is sent again
// after kResendDelay ms, for as long as its field is on the page and nothing newer was typed.
const kTextTries = 5;
const kResendDelay = 1000;

// A file goes to the application in pieces, each within the server's 64 KiB event body:
// 8 KiB of bytes, whose JSON text is at most six times as long ("\u0000").
const kFileChunk = 8192;

export class Input {
  // connection: post(event) and refresh(); version(): the version on screen.
  constructor(frame, renderer, connection, version) {
    this.frame = frame;
    this.renderer = renderer;
    this.connection = connection;
    this.version = version;
    this.queue = [];
    this.sending = false;
    this.pressed = null;  // {element, down}
    // A mouse reports its click count in `detail`; a touch screen's pointer events do not,
    // so taps are counted here: the next tap within 400 ms and 30 points continues it.
    this.lastTouch = { time: -Infinity, x: 0, y: 0, count: 0 };
    this.listen();
  }

  // --- Events out, one at a time -------------------------------------------------------

  // retry: 'again' re-sends once against fresh state after a 409 (touches stay meaningful);
  // 'text' up to kTextTries times (a field's whole text is meaningful whatever changed
  // meanwhile, and is lost if not taken); 'drop' does not.
  send(target, action, value, retry = 'drop') {
    if (action === 'change') {
      // Typing faster than the round trips: only the latest text matters.
      const pending = this.queue.find((e) => e.target === target && e.action === 'change');
      if (pending) {
        pending.value = value;
        return pending.answer;
      }
    }
    return this.enqueue({ target, action, value, retry });
  }

  // An entry is an event, or a `make` function that, when its turn comes, makes the event
  // (or nothing) from what is on screen then.
  enqueue(entry) {
    entry.answer = new Promise((resolve) => (entry.resolve = resolve));
    this.queue.push(entry);
    this.pump();
    return entry.answer;
  }

  async pump() {
    if (this.sending) return;
    this.sending = true;
    while (this.queue.length) {
      const entry = this.queue.shift();
      const e = entry.make ? await entry.make() : entry;
      let answer = { status: 0, body: {} };
      if (e) {
        answer = await this.connection.post(e, this.version());
        let tries = { again: 1, text: kTextTries }[e.retry] ?? 0;
        while (answer.status === 409) {
          await this.connection.refresh();
          if (tries-- <= 0) break;
          answer = await this.connection.post(e, this.version());
        }
        if (answer.status === 200 && Number(answer.body.version) > this.version()) await this.connection.refresh();
      }
      entry.resolve(answer);
    }
    this.sending = false;
  }

  // A field's whole text, as it stands, to the application. The field is `sending` until the
  // application has answered its last change: meanwhile a snapshot, made before the
  // application had the text, does not put older text back (dom.js showText). Then the
  // field shows the application's text, which is its own unless another tab typed since,
  // or the application refused it.
  sendText(field) {
    const change = (field.changes = (field.changes ?? 0) + 1);
    field.sending = true;
    this.send(field.dataset.id, 'change', field.value, 'text').then((answer) => {
      if (field.changes !== change) return;  // a newer change is on its way
      if (answer.status === 0 && field.isConnected) {
        setTimeout(() => {
          if (field.changes === change && field.isConnected) this.sendText(field);
        }, kResendDelay);
        return;
      }
      field.sending = false;
      // Taken, and the page has drawn a state that has it (or a later one): what the
      // application holds now is what the field shows. (A state not drawn yet brings it.)
      const drawn = answer.status !== 200 || Number(answer.body.version) <= this.version();
      if (drawn && syncText(field)) {
        const box = field.closest('.textinput');
        if (box) fitTextInput(box);
      }
    });
  }

  // The search field's Cancel: empties the field, which gives up the focus, and the whole
  // list comes back. `stay`: the user emptied the field and is still in it, so the field
  // keeps the focus and goes on editing (its Cancel stays) for the next search.
  cancelSearch(input, { stay = false } = {}) {
    const cancel = input.closest('.searchbar')?.querySelector('[data-action="cancel"]');
    input.hadText = false;
    if (!cancel) return;
    const event = () => (stay ? elementEvent(cancel) : this.deliver(cancel));
    this.enqueue({ make: async () => (cancel.isConnected ? { ...event(), retry: 'again' } : null) });
    if (stay) this.send(input.dataset.id, 'begin', undefined, 'again');
  }

  // The element's own event; the search field's Cancel also empties and leaves the field.
  // A button of an alert with a text field carries what was typed (nothing for Cancel).
  deliver(el) {
    const e = elementEvent(el);
    const field = e.target?.startsWith('alert:') ? el.closest('.alert')?.querySelector('.alert-field') : null;
    if (field) e.value = { button: e.value, text: 'cancel' in el.dataset ? '' : field.value };
    const input = this.renderer.searchInput;
    if (e.action === 'cancel' && input) {
      input.value = '';
      input.hadText = false;  // cancelled: leaving the field has nothing more to cancel
      setTimeout(() => input.blur());
    }
    return e;
  }

  // A file the user chose for a file field: "begin" {name, size}, the bytes in "chunk"s of
  // text whose characters are the bytes (U+0000 to U+00FF), then "end"; the first refusal
  // ends it. Other events may go between the pieces: the application decides what a
  // piece that arrives after them still means.
  async sendFile(field) {
    const file = field.files?.[0];
    const id = field.dataset.id;
    field.value = '';  // the same file can be chosen again
    if (!file || !id) return;
    let bytes;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch {
      return;  // unreadable (removed meanwhile, no permission): nothing was sent
    }
    const ok = async (action, value) => (await this.send(id, action, value, 'again')).status === 200;
    if (!(await ok('begin', { name: file.name, size: bytes.length }))) return;
    for (let at = 0; at < bytes.length; at += kFileChunk) {
      // Not TextDecoder('latin1'): that is windows-1252, which moves 0x80-0x9F elsewhere.
      if (!(await ok('chunk', String.fromCharCode(...bytes.subarray(at, at + kFileChunk))))) return;
    }
    await ok('end');
  }

  // --- Touches ---------------------------------------------------------------------------

  windowTouch(ev, phase, tapCount) {
    const { x, y } = framePoint(this.frame, ev);
    // Alerts, sheets and a modal screen sit outside the navigation view, as on the phone.
    const inList = !ev.target.closest('#alert-layer, #sheet-layer, [data-layer="modal"]');
    return this.send('window', 'touch', { x, y, tapCount, phase, inList }, 'again');
  }

  touchDown(ev, tapCount) {
    this.pressed = { element: touchable(ev.target), down: this.windowTouch(ev, 'down', tapCount) };
  }

  // The element gets the tap when the window consumed neither half of the touch, and when
  // it is still the element under the finger once the events before it have been handled.
  touchUp(ev, tapCount) {
    const p = this.pressed;
    this.pressed = null;
    const up = this.windowTouch(ev, 'up', tapCount);
    if (!p || !p.element || touchable(ev.target) !== p.element) return;
    const { clientX, clientY } = ev;
    this.enqueue({
      make: async () => {
        const [down, answer] = await Promise.all([p.down, up]);
        if (down.status !== 200 || answer.status !== 200 || down.body.consumed || answer.body.consumed) return null;
        const el = touchable(document.elementFromPoint(clientX, clientY));
        if (!el || el !== p.element) return null;
        return this.deliver(el);
      },
    });
  }

  fromTouch(ev) {
    // The mouse events a browser makes up after a touch were handled as pointer events.
    return ev.sourceCapabilities?.firesTouchEvents || ev.timeStamp - this.lastTouch.time < 1000;
  }

  // --- Keys ------------------------------------------------------------------------------

  // Enter or Space on a control activates it; Escape answers the alert, sheet or screen on
  // top with its cancel button, when it has one.
  onKey(ev) {
    if (ev.key === 'Escape') {
      const cancel = this.renderer.topLayer().el.querySelector('[data-cancel]');
      if (!cancel || !touchable(cancel)) return;
      ev.preventDefault();
      if (ev.repeat) return;  // a held key answers one alert, not the one below it too
      this.enqueue({ make: async () => (cancel.isConnected ? this.deliver(cancel) : null) });
      return;
    }
    if (ev.key !== 'Enter' && ev.key !== ' ') return;
    const el = touchable(ev.target);
    if (!el) return;
    ev.preventDefault();
    if (ev.repeat) return;
    this.enqueue({ make: async () => (el.isConnected ? this.deliver(el) : null) });
  }

  // The search field: begins editing with the focus, ends when the focus leaves the search
  // bar (moving to its Cancel button keeps it editing); Enter searches for the text the
  // field shows (an empty one changes nothing), Escape cancels the search, or, while the
  // field shows no Cancel, is the screen's Escape. A field emptied otherwise than by
  // Cancel, by its clear button (×) or by deleting its text, is cancelled too, at once: an
  // empty field over a list still narrowed by the last search would say the list is whole
  // when it is not.
  onSearchKey(ev) {
    const input = ev.target;
    if (ev.key === 'Enter') {
      ev.preventDefault();
      input.hadText = false;  // searched: leaving the field now changes nothing
      this.send(input.dataset.id, 'search', input.value, 'again');
      input.blur();
    } else if (ev.key === 'Escape') {
      ev.preventDefault();  // the browser's own Escape would empty the field behind the application's back
      const cancel = input.closest('.searchbar').querySelector('[data-action="cancel"]');
      if (cancel && !cancel.hidden) this.enqueue({ make: async () => this.deliver(cancel) });
      else this.onKey(ev);
    }
  }

  // A single-line text field: Return (Enter) is the field's "return", which the screen
  // answers (the name field gives up the focus). A field that needs text ignores it while
  // empty. Other keys are as on any control (Escape: the screen's cancel button).
  onFieldKey(ev) {
    const field = ev.target;
    if (ev.key !== 'Enter') {
      this.onKey(ev);
      return;
    }
    if (ev.keyCode === 229) return;  // Safari's Enter that ends a composition
    ev.preventDefault();
    if (ev.repeat || ('returnNeedsText' in field.dataset && field.value === '')) return;
    this.send(field.dataset.id, 'return', undefined, 'again');
  }

  // An alert's text field: Enter taps the alert's last button that is not its cancel
  // button ("Ok"); other keys as on any control (Escape: the cancel button).
  onAlertFieldKey(ev) {
    if (ev.key !== 'Enter') {
      this.onKey(ev);
      return;
    }
    if (ev.keyCode === 229) return;  // the Enter that ends a composition
    ev.preventDefault();
    if (ev.repeat) return;
    const ok = [...ev.target.closest('.alert').querySelectorAll('[data-target]')].filter((b) => !('cancel' in b.dataset)).at(-1);
    if (ok) this.enqueue({ make: async () => (ok.isConnected ? this.deliver(ok) : null) });
  }

  listen() {
    const { frame } = this;
    frame.addEventListener('pointerdown', (ev) => {
      if (ev.pointerType === 'mouse' || !ev.isPrimary) return;
      const { x, y } = framePoint(frame, ev);
      const last = this.lastTouch;
      const near = Math.abs(x - last.x) < 30 && Math.abs(y - last.y) < 30;
      const count = ev.timeStamp - last.time < 400 && near ? last.count + 1 : 1;
      this.lastTouch = { time: ev.timeStamp, x, y, count };
      this.touchDown(ev, count);
    }, true);
    frame.addEventListener('pointerup', (ev) => {
      if (ev.pointerType === 'mouse' || !ev.isPrimary) return;
      this.touchUp(ev, this.lastTouch.count);
    }, true);
    frame.addEventListener('pointercancel', () => {
      this.pressed = null;  // the finger scrolled the list: no tap
    }, true);
    frame.addEventListener('mousedown', (ev) => {
      if (ev.button !== 0 || this.fromTouch(ev)) return;
      // A tap elsewhere leaves the search field in editing, as on the phone.
      const input = this.renderer.searchInput;
      if (input && document.activeElement === input && ev.target !== input) ev.preventDefault();
      this.touchDown(ev, ev.detail || 1);
    }, true);
    frame.addEventListener('mouseup', (ev) => {
      if (ev.button !== 0 || this.fromTouch(ev)) return;
      this.touchUp(ev, ev.detail || 1);
    }, true);

    document.addEventListener('keydown', (ev) => {
      // Keys that an input method is composing with are its own.
      if (ev.defaultPrevented || ev.isComposing || ev.altKey || ev.ctrlKey || ev.metaKey) return;
      if (!(ev.target instanceof Element)) return;
      if (ev.target.matches('.searchbar input')) this.onSearchKey(ev);
      else if (ev.target.matches('.textinput-field input')) this.onFieldKey(ev);
      else if (ev.target.matches('.alert-field')) this.onAlertFieldKey(ev);
      else this.onKey(ev);
    });

    const inSearchBar = (el) => el instanceof Element && el.closest('.searchbar') !== null;
    frame.addEventListener('focusin', (ev) => {
      if (!ev.target.matches('.searchbar input') || inSearchBar(ev.relatedTarget)) return;
      ev.target.hadText = ev.target.value !== '';
      this.send(ev.target.dataset.id, 'begin');
    });
    frame.addEventListener('focusout', (ev) => {
      if (!inSearchBar(ev.target) || inSearchBar(ev.relatedTarget)) return;
      const input = ev.target.closest('.searchbar').querySelector('input');
      this.send(input.dataset.id, 'end');
    });
    // The search field's clear button (×): the browser empties the field, says so with an
    // "input" event (answered below) and then a "search" event (its Enter, which also
    // would, is the page's own: onSearchKey).
    frame.addEventListener('search', (ev) => {
      if (ev.target.matches('.searchbar input') && ev.target.value === '' && ev.target.hadText) {
        this.cancelSearch(ev.target, { stay: true });
      }
    }, true);

    // Text fields, text views and the search field: each change of the text goes to the
    // application (sendText); the focus the user moves is reported, not asked for. A modal
    // screen that is going (.leaving) has nothing more to report. While an input method
    // composes, the field keeps what it shows.
    frame.addEventListener('change', (ev) => {
      if (ev.target.matches('input[type="file"]')) this.sendFile(ev.target);
    });

    const textInput = (el) => el instanceof Element && el.matches('.textinput > :is(input, textarea)') && !el.closest('.leaving');
    const anyText = (el) => textInput(el) || (el instanceof Element && el.matches('.searchbar input'));
    frame.addEventListener('input', (ev) => {
      const field = ev.target;
      if (!anyText(field)) return;
      const search = field.matches('.searchbar input');
      if (search && field.value !== '') field.hadText = true;
      this.sendText(field);
      if (search && field.value === '' && field.hadText && !field.composing) this.cancelSearch(field, { stay: true });
    });
    frame.addEventListener('compositionstart', (ev) => {
      if (anyText(ev.target)) ev.target.composing = true;
    });
    frame.addEventListener('compositionend', (ev) => {
      ev.target.composing = false;
    });
    frame.addEventListener('focusin', (ev) => {
      if (textInput(ev.target)) this.send(ev.target.dataset.id, 'begin', undefined, 'again');
    });
    frame.addEventListener('focusout', (ev) => {
      if (textInput(ev.target)) this.send(ev.target.dataset.id, 'end', undefined, 'again');
    });
  }
}
