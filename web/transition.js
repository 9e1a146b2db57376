// How a modal screen comes and goes: "coverVertical" slides it up from the bottom (and down
// again), "pageCurl" turns the screen below away like a page lifted from its bottom-right
// corner, revealing the modal screen under it (and lays the page back down over it).
//
// Each transition moves one view, `el`, drawn above the other during it: out of the way
// (leaving: the page turned away, the modal slid down) or into place. The views stay live: the renderer has already drawn, focused
// and made inert what it must. A transition only paints: it owns the styles it sets on
// `el` and the page's folded flap, and removes them when it ends.
const kDuration = 500;  // ms

function easeInOut(t) {
  return t < 0.5 ? 4 * t * t * t : 1 - (-2 * t + 2) ** 3 / 2;
}

// --- The page curl: a fold line sweeping from the bottom-right corner to the top-left ---

const dot = (a, b) => a[0] * b[0] + a[1] * b[1];

// The part of the convex polygon on one side of the line n·p = c: sign -1 keeps n·p <= c,
// +1 keeps n·p >= c (Sutherland-Hodgman against one edge).
function clipToSide(poly, n, c, sign) {
  const out = [];
  poly.forEach((a, i) => {
    const b = poly[(i + 1) % poly.length];
    const da = sign * (c - dot(n, a));
    const db = sign * (c - dot(n, b));
    if (da <= 0) out.push(a);
    if ((da < 0 && db > 0) || (da > 0 && db < 0)) {
      const t = da / (da - db);
      out.push([a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1])]);
    }
  });
  return out;
}

function cssPolygon(points) {
  if (points.length < 3) return 'polygon(0 0, 0 0, 0 0)';
  return `polygon(${points.map(([x, y]) => `${x.toFixed(1)}px ${y.toFixed(1)}px`).join(', ')})`;
}

// Draws the page turned `e` of the way (0 flat, 1 gone), folded along the line n·p = c:
// the page keeps what lies before the line, the flap (the back of the paper) is what lies
// beyond it, mirrored across the line.
function drawCurl(page, flap, w, hgt, e) {
  const len = Math.hypot(w, hgt);
  const n = [hgt / len, w / len];  // normal of the lines parallel to the diagonal from top-right to bottom-left
  const far = dot(n, [w, hgt]);
  const c = far * (1 - e);
  const rect = [[0, 0], [w, 0], [w, hgt], [0, hgt]];
  page.style.clipPath = cssPolygon(clipToSide(rect, n, c, -1));
  const mirrored = clipToSide(rect, n, c, 1).map((p) => {
    const d = 2 * (dot(n, p) - c);
    return [p[0] - d * n[0], p[1] - d * n[1]];
  });
  flap.style.clipPath = cssPolygon(mirrored);
  // Shading across the flap, from the crease (lit where the paper bends) to its tip.
  const angle = Math.atan2(-n[0], n[1]);
  const line = Math.abs(w * Math.sin(angle)) + Math.abs(hgt * Math.cos(angle));
  const crease = -c + dot(n, [w / 2, hgt / 2]) + line / 2;
  const depth = far - c;
  flap.style.backgroundImage = `linear-gradient(${angle}rad, #c4c8cc ${crease}px, #fbfbfb ${crease + Math.min(14, depth / 4)}px, ` +
    `#e4e6e9 ${crease + depth * 0.6}px, #b9bdc3 ${crease + depth}px)`;
}

// Runs one transition; answers a handle whose finish() ends it at once (a new snapshot that
// changes the views again). onEnd runs once, after the styles are gone.
export function runTransition({ kind, host, el, leaving, onEnd }) {
  let flapBox = null;
  let flap = null;
  let draw;
  if (kind === 'pageCurl') {
    flapBox = document.createElement('div');
    flapBox.className = 'curlflap';
    flapBox.setAttribute('aria-hidden', 'true');
    flap = document.createElement('div');
    flapBox.append(flap);
    host.append(flapBox);
    draw = (away) => drawCurl(el, flap, host.clientWidth, host.clientHeight, away);
  } else {
    draw = (away) => {
      el.style.transform = `translateY(${(away * 100).toFixed(2)}%)`;
    };
  }
  el.classList.add('moving');
  host.classList.add('transitioning');

  let frame = 0;
  let timer = 0;
  let ended = false;
  const finish = () => {
    if (ended) return;
    ended = true;
    cancelAnimationFrame(frame);
    clearTimeout(timer);
    flapBox?.remove();
    el.style.clipPath = '';
    el.style.transform = '';
    el.classList.remove('moving');
    host.classList.remove('transitioning');
    onEnd();
  };
  const start = performance.now();
  const step = (now) => {
    const t = Math.min(1, (now - start) / kDuration);
    const e = easeInOut(t);
    draw(leaving ? e : 1 - e);  // how far out of the way el is: 0 in place, 1 gone
    if (t < 1) frame = requestAnimationFrame(step);
    else finish();
  };
  draw(leaving ? 0 : 1);
  frame = requestAnimationFrame(step);
  // A hidden tab draws no frames: the transition still ends.
  timer = setTimeout(finish, kDuration + 250);
  return { finish };
}
