// What every element renderer needs: making elements, marking the ones the user can
// activate, keeping elements across snapshots, and shrinking a label to its width.

export function h(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

export function button(className, text) {
  const el = h('button', className, text);
  el.type = 'button';
  return el;
}

// The event a tap or a key on `el` sends; input.js reads it back from the data attributes.
export function setTarget(el, target, action, value) {
  el.dataset.target = target;
  el.dataset.action = action;
  if (value === undefined) delete el.dataset.value;
  else el.dataset.value = JSON.stringify(value);
}

// Nothing to send: a disabled control stays in the page (and in the reading order) but
// neither a tap nor a key reaches the application through it.
export function clearTarget(el) {
  delete el.dataset.target;
  delete el.dataset.action;
  delete el.dataset.value;
}

// A control that taps `id` when enabled. A disabled one stays focusable (aria-disabled),
// so that a screen reader still finds it, but it carries no event.
export function setEnabled(el, id, enabled) {
  el.classList.toggle('disabled', !enabled);
  if (enabled) {
    el.removeAttribute('aria-disabled');
    setTarget(el, id, 'tap');
  } else {
    el.setAttribute('aria-disabled', 'true');
    clearTarget(el);
  }
}

// The application's text for a field the user may be typing in, `text`, drawn from a
// snapshot. A field whose own change is still on its way to the application (`sending`,
// set by input.js) or in the middle of an input method's composition keeps what it shows:
// the snapshot was made before the application had it. Otherwise the application's text
// wins, focused or not, since it may be what another tab typed: every tab then shows what
// a tap on Save would store. A focused field keeps its caret (and selection) where it was
// in the text around it. True when the field's text changed.
export function showText(field, text) {
  field.appText = text;
  return syncText(field);
}

// Shows the application's latest text for the field (showText) again, once nothing of the
// field's own is on its way any more.
export function syncText(field) {
  const text = field.appText;
  if (text === undefined || field.sending || field.composing || field.value === text) return false;
  const old = field.value;
  const focused = document.activeElement === field;
  const { selectionStart: start, selectionEnd: end, selectionDirection: direction } = field;
  field.value = text;
  if (focused && start !== null && end !== null) {
    field.setSelectionRange(movedCaret(old, text, start), movedCaret(old, text, end), direction ?? 'none');
  }
  return true;
}

// Where a caret at `at` in `old` belongs in `next`: a caret at the end stays at the end
// (text added there is read before going on typing), text before the change keeps its
// place, text after it its distance from the end, and a caret inside the part that changed
// goes to the end of what replaced it.
export function movedCaret(old, next, at) {
  if (at >= old.length) return next.length;
  let prefix = 0;
  const shorter = Math.min(old.length, next.length);
  while (prefix < shorter && old[prefix] === next[prefix]) prefix++;
  let suffix = 0;
  while (suffix < shorter - prefix && old[old.length - 1 - suffix] === next[next.length - 1 - suffix]) suffix++;
  if (at <= prefix) return at;
  if (at >= old.length - suffix) return next.length - (old.length - at);
  return next.length - suffix;
}

export function setText(el, text) {
  const value = text == null ? '' : String(text);
  if (el.textContent !== value) el.textContent = value;
}

// Keeps one element per key under `parent`, in the order of `items`: an element whose key
// is still there is updated, not replaced, so that keyboard focus stays on it when a new
// snapshot arrives.
export function keyed(parent, items, keyOf, make, update) {
  const old = parent.keyedElements ?? new Map();
  const next = new Map();
  items.forEach((item, i) => {
    const key = keyOf(item, i);
    let el = old.get(key);
    if (!el || next.has(key)) el = make(item, i);
    next.set(key, el);
    update(el, item, i);
    if (parent.children[i] !== el) parent.insertBefore(el, parent.children[i] ?? null);
  });
  while (parent.children.length > items.length) parent.lastElementChild.remove();
  parent.keyedElements = next;
}

const measureContext = document.createElement('canvas').getContext('2d');

// Shrinks the bold font until the text fits `width`, down to `min` pixels, as the list's
// labels do on the phone.
export function fitText(el, text, size, width, min = 10) {
  const value = text == null ? '' : String(text);
  const key = `${size}/${width}`;
  if (el.textContent === value && el.dataset.fitted === key) return;
  el.textContent = value;
  el.dataset.fitted = key;
  measureContext.font = `bold ${size}px ${getComputedStyle(el).fontFamily}`;
  const needed = measureContext.measureText(value).width;
  const fitted = needed > width ? Math.max(min, Math.floor((size * width * 10) / needed) / 10) : size;
  el.style.fontSize = `${fitted}px`;
}

// A line under a label (a path): shrunk like fitText, down to `min` pixels, in the
// element's own font; where even that is too wide, its end after an ellipsis, since the
// end of a path names the file.
export function fitTail(el, text, size, width, min = 10) {
  const value = text == null ? '' : String(text);
  const key = `${size}/${width}/${value}`;
  if (el.dataset.fitted === key) return;
  el.dataset.fitted = key;
  const style = getComputedStyle(el);
  const measure = (s, px) => {
    measureContext.font = `${style.fontWeight} ${px}px ${style.fontFamily}`;
    return measureContext.measureText(s).width;
  };
  const needed = measure(value, size);
  const fitted = needed > width ? Math.max(min, Math.floor((size * width * 10) / needed) / 10) : size;
  const chars = Array.from(value);
  let shown = value;
  while (chars.length > 1 && measure(shown, fitted) > width) {
    chars.shift();
    shown = `\u2026${chars.join('')}`;
  }
  el.textContent = shown;
  el.style.fontSize = `${fitted}px`;
}
