// Text fields and text views, {"kind": "textField" | "textView", "id", "text",
// "placeholder", "frame", "fontSize", "shrinkToFit", "keyboard", "returnKey",
// "returnNeedsText", "clearButton", "roundedBorder", "cornerRadius", "focus": {on, seq},
// and optionally "label" (its name), "readOnly" and "maxLength"}: an <input> or a
// <textarea> in a box (the screen places the box by its frame). A read-only one is for
// reading: the user can focus it, scroll and select, but not change it. Every class here
// starts with "textinput", so that no other kind's rule reaches a field (a rule that
// takes the pointer away from an element would leave the field to the keyboard alone).
//
// What the field shows is the application's text (dom.js showText): while the user types,
// each key's change is on its way (input.js marks the field `sending`) and the field keeps
// what was typed; once the application has it, the field shows the application's text
// again, which another tab on the same screen may have changed meanwhile. The element is
// kept across snapshots, so neither a character nor the caret is lost. input.js sends the
// text ("change"), the focus ("begin" / "end") and Return ("return") from the element's
// data-id.
//
// Each focus request (a new seq) is carried out once per element: a new element carries out
// the request it is drawn with, so the field the screen asks for takes the focus when the
// screen opens. The renderer asks for that (applyFocus) once the screen can take the focus.
import { button, h, showText } from './dom.js';

// The smallest text the page draws, in points: a shrinking font stops there, and a field
// that asks for less gets this much, so that text stays readable at the smallest scale.
const kMinFontSize = 14;

const measureContext = document.createElement('canvas').getContext('2d');

export function makeTextInput(multiline) {
  const box = h('div', multiline ? 'textinput textinput-view' : 'textinput textinput-field');
  const field = h(multiline ? 'textarea' : 'input');
  if (!multiline) field.type = 'text';
  field.autocomplete = 'off';
  field.spellcheck = false;
  field.setAttribute('autocapitalize', 'off');
  field.setAttribute('autocorrect', 'off');
  box.append(field);
  box.field = field;
  if (!multiline) {
    // Empties the field as if the user had deleted the text: the input event carries the
    // change. It never takes the focus, so that editing goes on.
    const clear = button('textinput-clear', '\u00d7');
    clear.tabIndex = -1;
    clear.setAttribute('aria-label', 'Clear text');
    clear.addEventListener('mousedown', (ev) => ev.preventDefault());
    clear.addEventListener('click', () => {
      field.value = '';
      field.dispatchEvent(new Event('input', { bubbles: true }));
    });
    box.append(clear);
    field.addEventListener('input', () => fitTextInput(box));
  }
  return box;
}

export function updateTextInput(box, item) {
  const { field } = box;
  field.dataset.id = String(item.id);
  const placeholder = String(item.placeholder ?? '');
  if (field.placeholder !== placeholder) field.placeholder = placeholder;
  // Named by its label, else by its placeholder, the one word the screen shows for it.
  field.setAttribute('aria-label', String(item.label || '') || placeholder || 'Text');
  field.readOnly = item.readOnly === true;
  box.classList.toggle('textinput-readonly', field.readOnly);
  if (Number.isInteger(item.maxLength) && item.maxLength > 0) field.maxLength = item.maxLength;
  else field.removeAttribute('maxlength');
  showText(field, String(item.text ?? ''));

  box.fontSize = Math.max(kMinFontSize, Number(item.fontSize) || 17);
  box.shrinkToFit = item.shrinkToFit === true;
  box.classList.toggle('textinput-rounded', item.roundedBorder === true);
  box.classList.toggle('textinput-clearable', item.clearButton === true);
  const radius = Number(item.cornerRadius);
  box.style.borderRadius = Number.isFinite(radius) && radius > 0 ? `${radius}px` : '';
  if (field.tagName === 'INPUT') {
    field.inputMode = item.keyboard === 'phonePad' ? 'tel' : 'text';
    field.enterKeyHint = item.returnKey === 'done' ? 'done' : 'enter';
    if (item.returnNeedsText === true) field.dataset.returnNeedsText = '';
    else delete field.dataset.returnNeedsText;
  }

  const focus = item.focus && typeof item.focus === 'object' ? item.focus : {};
  const seq = Number(focus.seq);
  if (Number.isFinite(seq) && seq !== box.focusSeq) {
    box.focusSeq = seq;
    box.focusWanted = focus.on === true;
  }
}

// Carries out the focus request not yet carried out, if any; true when the field took the
// focus. The screen must be able to take the focus (not under an alert, a sheet or an
// overlay).
export function applyFocus(box) {
  const wanted = box.focusWanted;
  if (wanted === undefined) return false;
  box.focusWanted = undefined;
  const { field } = box;
  if (wanted) field.focus();
  else if (document.activeElement === field) field.blur();
  return wanted && document.activeElement === field;
}

// The clear button shows while the field holds text (the stylesheet shows it only while
// the field has the focus); a shrinking font is fitted to the text now in the field.
// Measures: the box must be in the page (a box not shown yet is fitted when it is).
export function fitTextInput(box) {
  const { field } = box;
  box.classList.toggle('textinput-empty', field.value === '');
  if (field.tagName !== 'INPUT') {
    field.style.fontSize = `${box.fontSize}px`;
    return;
  }
  const size = box.fontSize;
  let fitted = size;
  const style = getComputedStyle(field);
  const width = field.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
  if (box.shrinkToFit && width > 0) {
    measureContext.font = `${size}px ${style.fontFamily}`;
    const needed = measureContext.measureText(field.value || field.placeholder).width;
    if (needed > width) fitted = Math.max(kMinFontSize, Math.floor((size * width * 10) / needed) / 10);
  }
  field.style.fontSize = `${fitted}px`;
}
