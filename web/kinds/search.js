// The search field, {"id", "text", "placeholder", "cancelTitle", "showsCancel"}: a text field and its Cancel button.
// The field's text is the user's while they type: a snapshot changes it only when the
// field does not have the focus.
import { button, h, setTarget, setText } from './dom.js';

export class SearchField {
  constructor() {
    this.root = h('div', 'searchbar');
    this.root.setAttribute('role', 'search');
    const field = h('div', 'field');
    this.input = h('input');
    this.input.type = 'search';
    this.input.enterKeyHint = 'search';
    this.input.placeholder = 'Search';
    this.input.autocomplete = 'off';
    this.input.setAttribute('aria-label', 'Search');
    field.append(this.input);
    this.cancel = button('barbutton', 'Cancel');
    this.root.append(field, this.cancel);
  }

  update(search) {
    const id = String(search.id ?? 'search');
    const text = search.text ?? '';
    this.input.dataset.id = id;
    const placeholder = search.placeholder || 'Search';
    if (this.input.placeholder !== placeholder) {
      this.input.placeholder = placeholder;
      this.input.setAttribute('aria-label', placeholder);
    }
    setText(this.cancel, search.cancelTitle || 'Cancel');
    if (document.activeElement !== this.input && this.input.value !== text) this.input.value = text;
    this.cancel.hidden = !search.showsCancel;
    setTarget(this.cancel, id, 'cancel');
  }
}
