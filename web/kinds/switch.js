// A switch row, {"kind": "switch", "id", "title", "on", "enabled"}: a button a screen
// reader hears as a switch (checked when on), its title on the left and the on/off track
// on the right. A tap, Space or Enter sends "toggle" with the state the user asks for;
// the application flips the switch in its next snapshot. A disabled switch stays in the
// reading order but sends nothing.
import { button, clearTarget, h, setTarget } from './dom.js';

export function makeSwitch() {
  const el = button('switch-row');
  el.setAttribute('role', 'switch');
  const title = h('span', 'switch-title');
  const track = h('span', 'switch-track');
  track.setAttribute('aria-hidden', 'true');
  track.append(h('span', 'switch-knob'));
  el.append(title, track);
  el.parts = { title };
  return el;
}

export function updateSwitch(el, sw) {
  const on = sw.on === true;
  el.setAttribute('aria-checked', String(on));
  if (sw.enabled === false) {
    el.setAttribute('aria-disabled', 'true');
    clearTarget(el);
  } else {
    el.removeAttribute('aria-disabled');
    setTarget(el, String(sw.id), 'toggle', !on);
  }
}
