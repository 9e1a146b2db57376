// Two notices at the bottom of the window.
//
// The page's own (the connection to voryx serve), index.html's #notice: a status region,
// so that a screen reader reads each new text once.
//
// The application's, {"notice": {"text", "seq"} | null} in the snapshot: a short line
// saying what a command did. It asks nothing: it takes no tap and no focus (taps go
// through it to what is under it), and it goes by itself, when the application takes it
// away or, should no snapshot say so (the connection lost meanwhile), after kNoticeLife.
// Its region is a polite status region that stays in the page, empty between notices, so
// that a screen reader reads each new notice once, after what it is reading.
import { h, setText } from './dom.js';

const kNoticeLife = 8000;  // ms; the application's own is shorter

export function showNotice(el, text) {
  setText(el, text);
  el.hidden = !text;
}

export class AppNotice {
  // The region goes before `below`: over the screen and the transfer overlay, under the
  // sheets and alerts, so that a question is never covered by a line about what came before.
  constructor(parent, below = null) {
    this.region = h('div', 'notice-region');
    this.region.setAttribute('role', 'status');
    this.region.setAttribute('aria-live', 'polite');
    parent.insertBefore(this.region, below);
    this.seq = null;    // the notice on show, or the last one that went by itself
    this.timer = 0;
  }

  update(notice) {
    const text = notice && typeof notice === 'object' && typeof notice.text === 'string' ? notice.text : '';
    if (!text) {
      this.hide();
      this.seq = null;
      return;
    }
    if (notice.seq === this.seq) return;  // on show, or gone by itself already
    this.seq = notice.seq;
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.hide(), kNoticeLife);
    this.region.replaceChildren(h('p', 'notice-text', text));
  }

  hide() {
    clearTimeout(this.timer);
    this.region.replaceChildren();
  }
}
