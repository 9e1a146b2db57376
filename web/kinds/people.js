// The people picker's list, {"people": [{"id", "name", "detail", "photo"}], "empty",
// "openFile", "placeholderPhoto"}: one row a person, its photo (or the placeholder
// portrait) on the left, the name in bold and the detail ("2 numbers") small below. Each
// row is a button; a tap (or Enter, Space) sends its id. When there is nobody, the screen's
// "empty" text (where the book was looked for) stands in the list's place, and with it,
// when the screen offers one, a button {"id", "title", "enabled"} that opens a .vcf file
// from the browser's machine (input.js sends the file).
//
// A book holds hundreds of persons and the list narrows on every key typed in the search
// field: a row stays the same element for as long as its person is in the list (keyed by
// what it shows, not by its place), a snapshot that changes nothing changes nothing here,
// and photos load only when their rows scroll into sight.
import { button, h, keyed, setTarget, setText } from './dom.js';

const kPlaceholder = 'NoImage.png';

// The address of a photo: a file the server serves ("/api/files/<id>"), else the page's
// placeholder image. A snapshot names no other address.
export function photoSource(photo, placeholder) {
  if (typeof photo === 'string' && /^\/api\/files\/[\w-]{1,64}$/.test(photo)) return photo;
  const name = typeof placeholder === 'string' && /^[\w-]+(\.[\w-]+)*$/.test(placeholder) ? placeholder : kPlaceholder;
  return `/images/${name}`;
}

// A photo beside a name tells a screen reader nothing more: it stays silent.
export function makePhoto(className) {
  const img = h('img', className);
  img.alt = '';
  img.draggable = false;
  img.decoding = 'async';
  return img;
}

export function setPhoto(img, photo, placeholder) {
  const src = photoSource(photo, placeholder);
  if (img.getAttribute('src') !== src) img.setAttribute('src', src);
}

// Rows are keyed by the person they show; the same person twice keeps one key each.
function personKeys(people) {
  const seen = new Map();
  return people.map((p) => {
    const key = `${p.name}\n${p.detail}\n${p.photo}`;
    const n = (seen.get(key) ?? 0) + 1;
    seen.set(key, n);
    return `${key}\n${n}`;
  });
}

export class PeopleList {
  constructor() {
    this.root = h('div', 'people-area');
    this.list = h('ul', 'people');
    this.nobody = h('div', 'people-empty');
    this.empty = h('p');
    // The button stands for the file field, which shows nothing of its own. It sends no
    // event itself (no data-target): input.js sends the file once one is chosen.
    this.open = button('barbutton people-openfile');
    this.file = h('input');
    this.file.type = 'file';
    this.file.accept = '.vcf,.vcard,text/vcard,text/x-vcard';
    this.file.hidden = true;
    this.file.tabIndex = -1;
    this.open.addEventListener('click', () => {
      if (!this.open.classList.contains('disabled')) this.file.click();
    });
    this.nobody.append(this.empty, this.open, this.file);
    this.root.append(this.list, this.nobody);
    this.drawn = '';
  }

  update(screen) {
    const people = (Array.isArray(screen.people) ? screen.people : []).filter((p) => p && typeof p === 'object');
    const empty = people.length === 0 && typeof screen.empty === 'string' ? screen.empty : '';
    const open = screen.openFile && typeof screen.openFile === 'object' ? screen.openFile : null;
    const json = JSON.stringify([people, empty, open, screen.placeholderPhoto]);
    if (json === this.drawn) return;
    this.drawn = json;
    const keys = personKeys(people);
    keyed(this.list, people, (_, i) => keys[i], () => this.makeRow(), (li, p) => this.updateRow(li, p, screen.placeholderPhoto));
    setText(this.empty, empty);
    this.empty.hidden = !empty;
    this.open.hidden = !open;
    if (open) {
      const enabled = open.enabled !== false;
      setText(this.open, open.title);
      this.open.classList.toggle('disabled', !enabled);
      if (enabled) this.open.removeAttribute('aria-disabled');
      else this.open.setAttribute('aria-disabled', 'true');
      this.file.dataset.id = String(open.id);
    }
    this.nobody.hidden = !empty && !open;
  }

  makeRow() {
    const li = h('li');
    const el = button('people-row');
    const photo = makePhoto('people-photo');
    photo.loading = 'lazy';
    const text = h('span', 'people-text');
    const name = h('span', 'people-name');
    const detail = h('span', 'people-detail');
    text.append(name, detail);
    el.append(photo, text);
    li.append(el);
    li.parts = { el, photo, name, detail };
    return li;
  }

  updateRow(li, p, placeholder) {
    const { el, photo, name, detail } = li.parts;
    setTarget(el, String(p.id), 'tap');
    setPhoto(photo, p.photo, placeholder);
    setText(name, p.name);
    setText(detail, p.detail);
    detail.hidden = !p.detail;
  }
}
