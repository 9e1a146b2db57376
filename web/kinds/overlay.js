// Overlays, {tag: {"caption", "label", "note", "spinner", "alpha", "frame", "captionFrame",
// "labelFrame", "noteFrame", "spinnerFrame", "captionLines"}}: the busy screens. Their frames
// are points of the phone's 320x480 screen; the page draws them at the window's size: each
// frame keeps its place as a share of the screen's width and height (at 320x480 exactly the
// phone's points), while the texts keep the page's own size, 17 px, whatever the window. So
// a phone held sideways or a desktop's window gets the overlay across the whole of it, its
// texts as large as the rest of the page.
//
// An overlay is drawn as the phone's view draws it: a black view whose alpha dims all of it,
// text and spinner included. An overlay whose frame is the whole screen dims the whole
// window. The caption and the label shrink their font only when their text does not fit
// their frame; the label and a one-line caption never wrap, a caption of any number of
// lines (0) wraps and shrinks only when its lines do not fit the frame's height. The
// spinner keeps its size where its frame has room for it. The caption and the label are
// polite live regions: a screen reader reads each new progress text. The note, when there
// is one, is a standing remark under them (the modem borrowed from ModemManager).
import { h, keyed, setText } from './dom.js';

const kScreen = [0, 0, 320, 480];
const kFontSize = 17;      // the page's text size, in px
const kMinFontSize = 10;   // the smallest a text shrinks to while that makes it fit
const kLineHeight = 1.2;   // as in the stylesheet: a line is this many font sizes high

function frameOf(value, fallback) {
  const f = Array.isArray(value) && value.length === 4 ? value.map(Number) : fallback;
  return f.every(Number.isFinite) ? f : fallback;
}

// Places `el` by its frame, a rectangle of the parent's `space` (its own frame's size).
function place(el, [x, y, w, hgt], [spaceW, spaceH]) {
  const share = (v, of) => `${((100 * v) / (of || 1)).toFixed(4)}%`;
  Object.assign(el.style, { left: share(x, spaceW), top: share(y, spaceH), width: share(w, spaceW), height: share(hgt, spaceH) });
}

// A text box: the frame (a live region) centring one span, the text, which is what gets measured.
function textBox(className) {
  const box = h('div', `overlay-text ${className}`);
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
  const panel = h('div', 'overlay-panel');
  const spinner = h('div', 'overlay-spinner');
  spinner.append(h('div', 'overlay-wheel'));
  panel.append(textBox('overlay-caption'), textBox('overlay-label'), spinner, textBox('overlay-note'));
  layer.append(panel);
  return layer;
}

// lines: 0 any number, n at most n (1: no wrap at all).
function setBoxText(box, text, frame, space, lines) {
  place(box, frame, space);
  box.dataset.lines = String(lines);
  box.classList.toggle('overlay-oneline', lines === 1);
  setText(box.firstChild, text);
}

function updateOverlay(layer, o) {
  const panel = layer.firstChild;
  const [caption, label, spinner, note] = panel.children;
  const frame = frameOf(o.frame, kScreen);
  const alpha = Number(o.alpha ?? 0.75);
  const whole = frame[0] <= 0 && frame[1] <= 0 && frame[0] + frame[2] >= 320 && frame[1] + frame[3] >= 480;
  layer.classList.toggle('overlay-whole', whole);
  layer.style.opacity = String(Number.isFinite(alpha) ? Math.min(1, Math.max(0, alpha)) : 0.75);
  place(panel, frame, [320, 480]);
  const space = [frame[2], frame[3]];
  const lines = Number.isInteger(o.captionLines) && o.captionLines >= 0 ? o.captionLines : 0;
  setBoxText(caption, o.caption ?? '', frameOf(o.captionFrame, [20, 100, 280, 150]), space, lines);
  setBoxText(label, o.label ?? '', frameOf(o.labelFrame, [20, 320, 280, 50]), space, 1);
  const spin = frameOf(o.spinnerFrame, [135, 250, 50, 50]);
  place(spinner, spin, space);
  spinner.style.setProperty('--wheel', `${Math.min(spin[2], spin[3])}px`);
  spinner.hidden = !o.spinner;
  setBoxText(note, o.note ?? '', frameOf(o.noteFrame, [20, 380, 280, 80]), space, 0);
  note.hidden = !o.note;
  layer.setAttribute('aria-label', String(o.caption || o.label || 'Working'));
}

function fits(box, span, size, lines) {
  span.style.fontSize = `${size}px`;
  return span.offsetWidth <= box.clientWidth && span.offsetHeight <= box.clientHeight &&
    (lines < 2 || span.offsetHeight <= Math.ceil(lines * kLineHeight * size));
}

// The largest font, in half pixels from kFontSize down to kMinFontSize, at which the
// box's text fits; a text that does not fit even then is drawn smaller still rather than
// cut off. Needs the box laid out: a box not shown yet is fitted when it is, and a box is
// fitted again when its text or its size changes.
function fitBox(box) {
  const span = box.firstChild;
  const lines = Number(box.dataset.lines);
  const key = `${span.textContent}/${box.clientWidth}/${box.clientHeight}/${lines}`;
  if (box.dataset.fitted === key || !box.clientWidth) return;
  box.dataset.fitted = key;
  if (fits(box, span, kFontSize, lines)) return;
  let [low, high] = [kMinFontSize * 2, kFontSize * 2 - 1];  // half pixels
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

function fitAll(layer) {
  for (const box of layer.querySelectorAll('.overlay-text')) fitBox(box);
}

// Each overlay's texts are fitted again when the window changes its size.
const resized = new ResizeObserver((entries) => entries.forEach(({ target }) => {
  if (target.isConnected) fitAll(target);
  else resized.unobserve(target);  // an overlay that went
}));

export function drawOverlays(host, overlays) {
  const entries = Object.entries(overlays && typeof overlays === 'object' ? overlays : {});
  keyed(host, entries, ([tag]) => tag, ([tag]) => {
    const layer = makeOverlay(tag);
    resized.observe(layer);
    return layer;
  }, (el, [, o]) => updateOverlay(el, o && typeof o === 'object' ? o : {}));
  // Measured once the overlays are in the page, and again when a text or a frame changes.
  fitAll(host);
}
