// Overlays, {tag: {"caption", "label", "note", "spinner", "alpha", "frame", "captionFrame",
// "labelFrame", "noteFrame", "spinnerFrame", "captionLines"}}: the busy screens. Their frames are points
// of the phone's 320x480 screen: each overlay draws into that design box, which the
// stylesheet scales to fit the window and centres (--design-scale, set by render.js).
//
// An overlay is drawn as the phone's view draws it: a black view whose alpha dims all of it,
// text and spinner included. An overlay whose frame is the whole screen dims the whole
// window. The caption and the label shrink their font until their text fits their frame;
// the label and a one-line caption never wrap, a caption of any number of lines (0) wraps
// and shrinks only when its lines do not fit the frame's height. The caption and the label
// are polite live regions: a screen reader reads each new progress text. The note, when
// there is one, is a standing remark under them (the modem borrowed from ModemManager).
import { h, keyed, setText } from './dom.js';

const kScreen = [0, 0, 320, 480];
const kFontSize = 17;      // the phone's label font, in points
const kMinFontSize = 10;   // the smallest a text shrinks to while that makes it fit
const kLineHeight = 1.2;   // as in the stylesheet: a line is this many font sizes high

function frameOf(value, fallback) {
  const f = Array.isArray(value) && value.length === 4 ? value.map(Number) : fallback;
  return f.every(Number.isFinite) ? f : fallback;
}

function place(el, [x, y, w, hgt]) {
  Object.assign(el.style, { left: `${x}px`, top: `${y}px`, width: `${w}px`, height: `${hgt}px` });
}

// A text box: the frame (a live region) centring one span, the text, which is what gets measured.
function textBox(className) {
  const box = h('div', className);
  box.setAttribute('aria-live', 'polite');
  box.append(h('span'));
  return box;
}

function makeOverlay(tag) {
  const layer = h('div', 'overlay');
  layer.dataset.tag = tag;
  layer.dataset.layer = 'overlay';
  layer.tabIndex = -1;  // takes the focus while it covers the screen
  layer.setAttribute('role', 'dialog');
  layer.setAttribute('aria-modal', 'true');
  const box = h('div', 'designbox');
  const panel = h('div', 'panel');
  panel.append(textBox('caption'), textBox('label'), h('div', 'spinner'), textBox('note'));
  box.append(panel);
  layer.append(box);
  return layer;
}

// lines: 0 any number, n at most n (1: no wrap at all).
function setBoxText(box, text, frame, lines) {
  place(box, frame);
  box.dataset.lines = String(lines);
  box.classList.toggle('oneline', lines === 1);
  setText(box.firstChild, text);
}

function updateOverlay(layer, o) {
  const [panel] = layer.firstChild.children;
  const [caption, label, spinner, note] = panel.children;
  const frame = frameOf(o.frame, kScreen);
  const alpha = Number(o.alpha ?? 0.75);
  const whole = frame[0] <= 0 && frame[1] <= 0 && frame[0] + frame[2] >= 320 && frame[1] + frame[3] >= 480;
  layer.classList.toggle('whole', whole);
  layer.style.opacity = String(Number.isFinite(alpha) ? Math.min(1, Math.max(0, alpha)) : 0.75);
  place(panel, frame);
  const lines = Number.isInteger(o.captionLines) && o.captionLines >= 0 ? o.captionLines : 0;
  setBoxText(caption, o.caption ?? '', frameOf(o.captionFrame, [20, 100, 280, 150]), lines);
  setBoxText(label, o.label ?? '', frameOf(o.labelFrame, [20, 320, 280, 50]), 1);
  place(spinner, frameOf(o.spinnerFrame, [135, 250, 50, 50]));
  spinner.hidden = !o.spinner;
  setBoxText(note, o.note ?? '', frameOf(o.noteFrame, [20, 380, 280, 80]), 0);
  note.hidden = !o.note;
  layer.setAttribute('aria-label', String(o.caption || o.label || 'Working'));
}

function fits(box, span, size, lines) {
  span.style.fontSize = `${size}px`;
  return span.offsetWidth <= box.clientWidth && span.offsetHeight <= box.clientHeight &&
    (lines < 2 || span.offsetHeight <= Math.ceil(lines * kLineHeight * size));
}

// The largest font, in half points from kFontSize down to kMinFontSize, at which the
// box's text fits; a text that does not fit even then is drawn smaller still rather than
// cut off. Needs the box laid out: a box not shown yet is fitted when it is.
function fitBox(box) {
  const span = box.firstChild;
  const lines = Number(box.dataset.lines);
  const key = `${span.textContent}/${box.style.width}/${box.style.height}/${lines}`;
  if (box.dataset.fitted === key || !box.clientWidth) return;
  box.dataset.fitted = key;
  if (fits(box, span, kFontSize, lines)) return;
  let [low, high] = [kMinFontSize * 2, kFontSize * 2 - 1];  // half points
  while (low < high) {
    const mid = Math.ceil((low + high) / 2);
    if (fits(box, span, mid / 2, lines)) low = mid;
    else high = mid - 1;
  }
  if (fits(box, span, low / 2, lines)) return;
  const ratio = Math.min(box.clientWidth / span.offsetWidth, box.clientHeight / span.offsetHeight);
  for (let size = Math.floor(kMinFontSize * ratio * 10) / 10; size > 1; size -= 0.5) {
    if (fits(box, span, size, lines)) return;
  }
}

export function drawOverlays(host, overlays) {
  const entries = Object.entries(overlays && typeof overlays === 'object' ? overlays : {});
  keyed(host, entries, ([tag]) => tag, ([tag]) => makeOverlay(tag),
    (el, [, o]) => updateOverlay(el, o && typeof o === 'object' ? o : {}));
  // Measured once the overlays are in the page, and again only when a text or frame changes.
  for (const box of host.querySelectorAll('.overlay .caption, .overlay .label, .overlay .note')) fitBox(box);
}
