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
