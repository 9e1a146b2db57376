// The search field, {"id", "text", "placeholder", "cancelTitle", "showsCancel", "enabled"}:
// a text field and its Cancel button. A field that is off ("enabled": false) shows its
// placeholder and takes neither the focus nor typing.
//
// The field shows the application's text as every text field does (dom.js showText): what
// the user types is kept while it is on its way, and text typed in another tab replaces it.
// How Enter, Escape, Cancel, the field's own clear button (×) and leaving an emptied field
// are answered is input.js's.
import { button, h, setTarget, setText, showText } from './dom.js';

export class SearchField {
  constructor() {
    this.root = h('div', 'searchbar');
    this.root.setAttribute('role', 'search');
    const field = h('div', 'searchbar-field');
    this.input = h('input');
    this.input.type = 'search';
    this.input.enterKeyHint = 'search';
    this.input.placeholder = 'Search';
    this.input.autocomplete = 'off';
    this.input.setAttribute('aria-label', 'Search');
    field.append(this.input);
    this.cancel = button('barbutton searchbar-cancel', 'Cancel');
    this.root.append(field, this.cancel);
  }

  update(search) {
    const id = String(search.id ?? 'search');
    this.input.dataset.id = id;
    const placeholder = search.placeholder || 'Search';
    if (this.input.placeholder !== placeholder) {
      this.input.placeholder = placeholder;
      this.input.setAttribute('aria-label', placeholder);
    }
    const enabled = search.enabled !== false;
    this.input.disabled = !enabled;
    this.root.classList.toggle('searchbar-off', !enabled);
    setText(this.cancel, search.cancelTitle || 'Cancel');
    showText(this.input, String(search.text ?? ''));
    this.cancel.hidden = !search.showsCancel || !enabled;
    setTarget(this.cancel, id, 'cancel');
  }
}
