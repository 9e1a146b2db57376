// Overlays, {tag: {"caption", "label", "spinner", "alpha", "frame", "captionFrame",
// "labelFrame", "spinnerFrame"}}: the busy screens. Their frames are points of the phone's
// 320x480 screen: each overlay draws into that design box, which the stylesheet scales to
// fit the window and centres (--design-scale, set by render.js). An overlay whose frame
// is the whole screen dims the whole window. The caption and the label are polite live
// regions: a screen reader reads each new progress text.
import { fitText, h, keyed, setText } from './dom.js';

const kScreen = [0, 0, 320, 480];

function frameOf(value, fallback) {
  const f = Array.isArray(value) && value.length === 4 ? value.map(Number) : fallback;
  return f.every(Number.isFinite) ? f : fallback;
}

function place(el, [x, y, w, hgt]) {
  Object.assign(el.style, { left: `${x}px`, top: `${y}px`, width: `${w}px`, height: `${hgt}px` });
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
  const caption = h('div', 'caption');
  const label = h('div', 'label');
  for (const el of [caption, label]) el.setAttribute('aria-live', 'polite');
  const spinner = h('div', 'spinner');
  panel.append(caption, label, spinner);
  box.append(panel);
  layer.append(box);
  return layer;
}

function updateOverlay(layer, o) {
  const [panel] = layer.firstChild.children;
  const [caption, label, spinner] = panel.children;
  const frame = frameOf(o.frame, kScreen);
  const background = `rgba(0, 0, 0, ${Math.min(1, Math.max(0, Number(o.alpha ?? 0.75) || 0))})`;
  const whole = frame[0] <= 0 && frame[1] <= 0 && frame[0] + frame[2] >= 320 && frame[1] + frame[3] >= 480;
  layer.style.background = whole ? background : '';
  panel.style.background = whole ? '' : background;
  place(panel, frame);
  place(caption, frameOf(o.captionFrame, [20, 100, 280, 150]));
  const labelFrame = frameOf(o.labelFrame, [20, 320, 280, 50]);
  place(label, labelFrame);
  place(spinner, frameOf(o.spinnerFrame, [135, 250, 50, 50]));
  spinner.hidden = !o.spinner;
  setText(caption, o.caption);
  fitText(label, o.label ?? '', 17, labelFrame[2]);
  layer.setAttribute('aria-label', String(o.caption || o.label || 'Working'));
}

export function drawOverlays(host, overlays) {
  const entries = Object.entries(overlays && typeof overlays === 'object' ? overlays : {});
  keyed(host, entries, ([tag]) => tag, ([tag]) => makeOverlay(tag),
    (el, [, o]) => updateOverlay(el, o && typeof o === 'object' ? o : {}));
}
