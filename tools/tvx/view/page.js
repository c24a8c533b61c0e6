// The tvx view: draws the scene that `tvx query|sweep|plan --view` wrote into
// this page, with three.js, which the page also holds.
//
// The scene (element #tvx-scene) is JSON:
//   kind      "query", "sweep" or "plan"; title; facts: lines of text
//   arrays    [{type: f32|f64|u8|u16|u32, offset, count}]: views into the
//             block of #tvx-arrays (base64 of zlib data when encoding is
//             "deflate"; bytes: its length inflated); elsewhere a number
//             naming an array is its rank in this list
//   meshes    [{label, colour, role: a|b|obstacle|robot, points: x y z
//             float32 triples, triangles: point ranks, matrix: 16 numbers
//             row by row (the placement), contact: triangle ranks or null}]
//   closest   {a: [x, y, z], b: [x, y, z], clearance, exact} or null
//   sweep     {moving: [mesh ranks], steps, start: step shown first,
//             t, clearance (float32, NaN without an answer), contact (u8),
//             matrices (16 float64 a step), closest (6 float64 a step, NaN
//             when none), contacts: [{mesh, offsets (steps + 1), triangles}]}
//   plan      {robot: [mesh ranks], scale: reached by shrinking,
//             poses: 16 float64 a pose (the waypoints, or start and goal
//             when no path was found), path: whether poses is a path}
// The page marks its state on <html data-tvx-view>: drawn, no-webgl or
// failed, and says the same on the console in lines starting "tvx-view:".

import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

const CONTACT_RED = 0xff0000;
const MARK = 0x1f2328;
const PATH_COLOUR = 0xe07b00;

const doc = JSON.parse(document.getElementById('tvx-scene').textContent);
const $ = (id) => document.getElementById(id);
const status = (s) => { document.documentElement.dataset.tvxView = s; };

function fmt(v) {
  if (!Number.isFinite(v)) return '-';
  return Math.abs(v) >= 1e-3 && Math.abs(v) < 1e6 ? String(Number(v.toPrecision(6))) : v.toExponential(4);
}

async function unpackArrays() {
  const text = $('tvx-arrays').textContent.trim();
  let blob = await (await fetch('data:application/octet-stream;base64,' + text)).blob();
  if (doc.encoding === 'deflate')
    blob = new Response(blob.stream().pipeThrough(new DecompressionStream('deflate')));
  const buffer = await blob.arrayBuffer();
  if (buffer.byteLength !== doc.bytes)
    throw new Error(`the arrays hold ${buffer.byteLength} bytes, not ${doc.bytes}`);
  const kinds = { f32: Float32Array, f64: Float64Array, u8: Uint8Array, u16: Uint16Array, u32: Uint32Array };
  return doc.arrays.map((a) => new kinds[a.type](buffer, a.offset, a.count));
}

function webglAvailable() {
  try {
    const c = document.createElement('canvas');
    return !!(c.getContext('webgl2') || c.getContext('webgl'));
  } catch (e) {
    return false;
  }
}

function showFacts() {
  $('title').textContent = doc.title;
  $('facts').textContent = doc.facts.join('\n');
}

// Without WebGL nothing can be drawn: the page says so, and what it holds.
function noWebgl(reason) {
  $('panel').hidden = true;
  const box = $('message');
  box.hidden = false;
  box.innerHTML = '<h2></h2><p></p><pre></pre>';
  box.querySelector('h2').textContent = doc.title;
  box.querySelector('p').textContent =
    'This page draws the scene in 3D with WebGL, which this browser does not offer here ' +
    '(it may be turned off in its settings, or its graphics driver blocked). ' +
    'Another browser, or this one with hardware acceleration on, shows it. What the page holds:';
  box.querySelector('pre').textContent = doc.facts.join('\n');
  status('no-webgl');
  console.log('tvx-view: no WebGL: ' + reason);
}

function matrixOf(m, at = 0) {
  // Our matrices are row by row, as Matrix4.set takes them.
  return new THREE.Matrix4().set(...Array.from(m.slice(at, at + 16)));
}

function geometryOf(points, triangles) {
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.BufferAttribute(points, 3));
  g.setIndex(new THREE.BufferAttribute(triangles instanceof Uint8Array ? new Uint16Array(triangles) : triangles, 1));
  g.computeBoundingSphere();
  return g;
}

// The triangles of base named by ranks, over the same points.
function subsetOf(base, ranks) {
  const corners = base.index.array;
  const index = new Uint32Array(ranks.length * 3);
  for (let i = 0; i < ranks.length; ++i)
    for (let k = 0; k < 3; ++k) index[3 * i + k] = corners[3 * ranks[i] + k];
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', base.getAttribute('position'));
  g.setIndex(new THREE.BufferAttribute(index, 1));
  return g;
}

const surface = (colour, opacity = 1) => new THREE.MeshStandardMaterial({
  color: colour, flatShading: true, roughness: 0.75, metalness: 0, side: THREE.DoubleSide,
  transparent: opacity < 1, opacity, depthWrite: opacity === 1,
});
// Contact triangles lie where the surfaces cross, half hidden: drawn once in
// front of the surface they belong to, and once faintly through everything.
const contactFront = new THREE.MeshBasicMaterial({
  color: CONTACT_RED, side: THREE.DoubleSide, polygonOffset: true, polygonOffsetFactor: -1, polygonOffsetUnits: -4,
});
const contactHidden = new THREE.MeshBasicMaterial({
  color: CONTACT_RED, side: THREE.DoubleSide, transparent: true, opacity: 0.3, depthTest: false, depthWrite: false,
});

// A mesh of the scene with its contact overlay, placed by one matrix.
class Body {
  constructor(entry, arrays, group) {
    this.geometry = geometryOf(arrays[entry.points], arrays[entry.triangles]);
    this.node = new THREE.Group();
    this.node.matrixAutoUpdate = false;
    this.node.matrix.copy(matrixOf(entry.matrix));
    this.material = surface(entry.colour);
    this.surface = new THREE.Mesh(this.geometry, this.material);
    this.node.add(this.surface);
    this.overlay = null;
    group.add(this.node);
    if (entry.contact !== null && entry.contact !== undefined) this.contact(arrays[entry.contact]);
  }
  // solid, see-through or hidden; the triangles in contact stay in view.
  look(mode) {
    this.surface.visible = mode !== 'hidden';
    this.material.transparent = mode === 'see-through';
    this.material.opacity = mode === 'see-through' ? 0.3 : 1;
    this.material.depthWrite = mode === 'solid';
    this.material.needsUpdate = true;
  }
  place(matrix) { this.node.matrix.copy(matrix); this.node.matrixWorldNeedsUpdate = true; }
  contact(ranks) {
    if (this.overlay) {
      this.node.remove(this.overlay);
      this.overlay.children.forEach((c) => c.geometry.dispose());
      this.overlay = null;
    }
    if (!ranks || ranks.length === 0) return;
    const g = subsetOf(this.geometry, ranks);
    this.overlay = new THREE.Group();
    this.overlay.add(new THREE.Mesh(g, contactFront));
    const hidden = new THREE.Mesh(g, contactHidden);
    hidden.renderOrder = 2;
    this.overlay.add(hidden);
    this.node.add(this.overlay);
  }
}

// A solid rod between two points.
function rod(a, b, radius, material) {
  const d = new THREE.Vector3().subVectors(b, a);
  const g = new THREE.CylinderGeometry(radius, radius, Math.max(d.length(), 1e-30), 12);
  const m = new THREE.Mesh(g, material);
  m.position.copy(a).addScaledVector(d, 0.5);
  if (d.length() > 0) m.quaternion.setFromUnitVectors(new THREE.Vector3(0, 1, 0), d.normalize());
  return m;
}

// Two markers and the segment between the closest points, with the label.
class Closest {
  constructor(group, size) {
    this.group = new THREE.Group();
    this.material = new THREE.MeshBasicMaterial({ color: MARK });
    this.size = size;
    this.mid = null;
    group.add(this.group);
  }
  show(a, b, text) {
    this.group.children.forEach((c) => c.geometry.dispose());
    this.group.clear();
    this.mid = null;
    if (!a) return;
    const pa = new THREE.Vector3(...a), pb = new THREE.Vector3(...b);
    for (const p of [pa, pb]) {
      const s = new THREE.Mesh(new THREE.SphereGeometry(this.size, 20, 12), this.material);
      s.position.copy(p);
      this.group.add(s);
    }
    this.group.add(rod(pa, pb, this.size * 0.3, this.material));
    this.mid = pa.clone().add(pb).multiplyScalar(0.5);
    this.text = text;
  }
}

// The legend; a mesh's entry, clicked, makes it see-through, hides it,
// and shows it again.
function legend(items, redraw) {
  const ul = $('legend');
  const modes = ['solid', 'see-through', 'hidden'];
  for (const { colour, text, bodies, mode } of items) {
    const li = document.createElement('li');
    const sw = document.createElement('span');
    sw.className = 'swatch';
    sw.style.background = colour;
    li.append(sw, text);
    if (bodies) {
      const state = document.createElement('span');
      state.className = 'mode';
      li.append(state);
      li.style.cursor = 'pointer';
      li.title = 'click: solid, see-through, hidden';
      let k = modes.indexOf(mode);
      const apply = () => {
        bodies.forEach((b) => b.look(modes[k]));
        state.textContent = modes[k] === 'solid' ? '' : ` (${modes[k]})`;
      };
      li.addEventListener('click', () => { k = (k + 1) % modes.length; apply(); redraw(); });
      apply();
    }
    ul.append(li);
  }
}

async function main() {
  showFacts();
  if (!webglAvailable()) return noWebgl('no WebGL context');
  const arrays = await unpackArrays();
  console.log(`tvx-view: arrays unpacked, ${(doc.bytes / 1e6).toFixed(1)} MB`);
  let renderer;
  try {
    renderer = new THREE.WebGLRenderer({ antialias: true });
  } catch (e) {
    return noWebgl(String(e));
  }
  const host = $('view');
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  host.append(renderer.domElement);
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0xf3f4f6);
  const world = new THREE.Group();
  scene.add(world);

  const robotRanks = new Set(doc.plan ? doc.plan.robot : []);
  const bodies = doc.meshes.map((m, i) => (robotRanks.has(i) ? null : new Body(m, arrays, world)));
  const anyContact = doc.meshes.some((m) => m.contact !== null && m.contact !== undefined) ||
    (doc.sweep && arrays[doc.sweep.contact].some((c) => c));
  // One legend entry a label (the parts of a file share theirs). In contact,
  // the mesh of the larger box is see-through at first: it is the one that
  // may hide the other, and the triangles in contact, inside it.
  const entries = new Map();
  doc.meshes.forEach((m, i) => {
    if (!entries.has(m.label)) entries.set(m.label, { colour: m.colour, text: m.label, bodies: [], mode: 'solid' });
    if (bodies[i]) entries.get(m.label).bodies.push(bodies[i]);
  });
  const items = [...entries.values()];
  items.filter((e) => e.bodies.length === 0).forEach((e) => { e.bodies = null; });
  // A plan's path goes through the obstacles' gaps: they are see-through.
  if (doc.plan) items.forEach((e) => { if (e.bodies) e.mode = 'see-through'; });
  if (anyContact) {
    const reach = (e) => e.bodies.reduce((v, b) => {
      const size = new THREE.Box3().setFromObject(b.node).getSize(new THREE.Vector3());
      return v + size.x * size.y * size.z;
    }, 0);
    const movable = items.filter((e) => e.bodies);
    if (movable.length > 1) movable.reduce((x, y) => (reach(y) > reach(x) ? y : x)).mode = 'see-through';
  }
  if (anyContact) items.push({ colour: '#ff0000', text: 'triangles in contact' });

  // The robot of a plan at each pose: solid where it was planned, its
  // full size as a ghost when the plan shrank it.
  let poseCentres = null;
  if (doc.plan) {
    const poses = arrays[doc.plan.poses];
    const n = poses.length / 16;
    const s = doc.plan.scale;
    const shrink = new THREE.Matrix4().makeScale(s, s, s);
    const ghost = surface(0x9aa3ad, 0.15);
    const centres = [];
    for (const r of doc.plan.robot) {
      const entry = doc.meshes[r];
      const g = geometryOf(arrays[entry.points], arrays[entry.triangles]);
      const solid = surface(entry.colour);
      const light = surface(entry.colour, 0.3);
      for (let i = 0; i < n; ++i) {
        const at = matrixOf(poses, 16 * i);
        const end = i === 0 || i === n - 1;
        const add = (material, matrix) => {
          const m = new THREE.Mesh(g, material);
          m.matrixAutoUpdate = false;
          m.matrix.copy(matrix);
          world.add(m);
        };
        if (s < 1) {
          add(solid, at.clone().multiply(shrink));
          add(ghost, at);
        } else {
          add(end ? solid : light, at);
        }
      }
    }
    for (let i = 0; i < n; ++i) centres.push(new THREE.Vector3().setFromMatrixPosition(matrixOf(poses, 16 * i)));
    poseCentres = centres;
    if (s < 1) items.push({ colour: '#9aa3ad', text: `robot at full size (planned shrunk to ${fmt(s)})` });
    if (doc.plan.path) items.push({ colour: '#e07b00', text: 'path of the robot origin' });
  }

  // Frame everything the scene holds, all sweep steps included.
  const box = new THREE.Box3().setFromObject(world);
  if (doc.sweep) {
    const m = arrays[doc.sweep.matrices];
    for (const r of doc.sweep.moving) {
      const local = bodies[r].geometry.boundingSphere;
      for (let i = 0; i < doc.sweep.steps; ++i)
        box.union(new THREE.Box3().setFromCenterAndSize(local.center, new THREE.Vector3().setScalar(2 * local.radius))
          .applyMatrix4(matrixOf(m, 16 * i)));
    }
  }
  const sphere = box.getBoundingSphere(new THREE.Sphere());
  if (doc.sweep) {
    // The way B's centre goes, faintly.
    const m = arrays[doc.sweep.matrices];
    const centre = bodies[doc.sweep.moving[0]].geometry.boundingSphere.center;
    const way = [];
    for (let i = 0; i < doc.sweep.steps; ++i) way.push(centre.clone().applyMatrix4(matrixOf(m, 16 * i)));
    world.add(new THREE.Line(new THREE.BufferGeometry().setFromPoints(way),
      new THREE.LineBasicMaterial({ color: 0x8a93a3 })));
  }
  const radius = sphere.radius > 0 ? sphere.radius : 1;
  const mark = radius * 0.012;

  if (doc.plan && doc.plan.path && poseCentres.length > 1) {
    // The origin runs inside the robot: the path is drawn over everything.
    const material = new THREE.MeshBasicMaterial({ color: PATH_COLOUR, depthTest: false, transparent: true });
    const parts = [];
    for (let i = 1; i < poseCentres.length; ++i) parts.push(rod(poseCentres[i - 1], poseCentres[i], mark * 0.4, material));
    for (const c of poseCentres) {
      const dot = new THREE.Mesh(new THREE.SphereGeometry(mark * 0.8, 16, 10), material);
      dot.position.copy(c);
      parts.push(dot);
    }
    parts.forEach((m) => { m.renderOrder = 3; world.add(m); });
  }
  const closest = new Closest(world, mark);
  const label = $('label');
  if (doc.closest) closest.show(doc.closest.a, doc.closest.b, (doc.closest.exact ? 'clearance ' : 'clearance >= ') +
    fmt(doc.closest.clearance));
  if (doc.closest || doc.sweep) items.push({ colour: '#1f2328', text: 'closest points' });

  const camera = new THREE.PerspectiveCamera(40, 1, radius / 200, radius * 200);
  // Mesh files are mostly y up; planners move robots over z = const planes.
  const from = doc.plan ? new THREE.Vector3(0.5, -0.9, 1.2) : new THREE.Vector3(0.9, 0.6, 1.4);
  if (doc.plan) camera.up.set(0, 0, 1);
  camera.position.copy(sphere.center).add(from.normalize().multiplyScalar(radius * 2.3));
  camera.add(new THREE.DirectionalLight(0xffffff, 2.2).translateX(-0.4).translateY(1).translateZ(0.6));
  scene.add(camera);
  scene.add(new THREE.HemisphereLight(0xffffff, 0x8a8f99, 1.4));
  const controls = new OrbitControls(camera, renderer.domElement);
  controls.target.copy(sphere.center);
  controls.update();

  let pending = false;
  const draw = () => {
    renderer.render(scene, camera);
    if (closest.mid) {
      const p = closest.mid.clone().project(camera);
      label.hidden = p.z > 1;
      label.style.left = `${((p.x + 1) / 2) * host.clientWidth}px`;
      label.style.top = `${((1 - p.y) / 2) * host.clientHeight}px`;
      label.textContent = closest.text;
    } else {
      label.hidden = true;
    }
  };
  const redraw = () => {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => { pending = false; draw(); });
  };
  const resize = () => {
    renderer.setSize(host.clientWidth, host.clientHeight);
    camera.aspect = host.clientWidth / Math.max(1, host.clientHeight);
    camera.updateProjectionMatrix();
    draw();
  };
  controls.addEventListener('change', redraw);
  legend(items, redraw);
  window.addEventListener('resize', resize);

  if (doc.sweep) sweepControls(doc.sweep, arrays, bodies, closest, redraw);
  resize();
  // render() only queues the drawing; reading one pixel back waits for it.
  const gl = renderer.getContext();
  gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
  status('drawn');
  console.log('tvx-view: drawn');
}

// The slider, the play button and the clearance plot of a sweep.
function sweepControls(sw, arrays, bodies, closest, redraw) {
  const n = sw.steps;
  const t = arrays[sw.t], clearance = arrays[sw.clearance], contact = arrays[sw.contact];
  const matrices = arrays[sw.matrices], points = arrays[sw.closest];
  const bar = $('bar'), slider = $('step'), text = $('steptext'), play = $('play'), plot = $('plot');
  bar.hidden = false;
  slider.max = String(n - 1);

  let hi = 0;
  for (let i = 0; i < n; ++i) if (!contact[i] && Number.isFinite(clearance[i])) hi = Math.max(hi, clearance[i]);
  hi = hi > 0 ? hi * 1.08 : 1;
  const ctx = plot.getContext('2d');
  const W = plot.width, H = plot.height, L = 6, R = W - 6, T = 8, B = H - 14;
  const xOf = (i) => L + (n > 1 ? (i / (n - 1)) * (R - L) : (R - L) / 2);
  const yOf = (c) => B - (c / hi) * (B - T);

  function drawPlot(current) {
    ctx.clearRect(0, 0, W, H);
    ctx.fillStyle = 'rgba(229, 57, 53, 0.18)';
    const half = n > 1 ? (R - L) / (n - 1) / 2 : 4;
    for (let i = 0; i < n; ++i) if (contact[i]) ctx.fillRect(xOf(i) - half, T, 2 * half, B - T);
    ctx.strokeStyle = '#888';
    ctx.beginPath(); ctx.moveTo(L, B + 0.5); ctx.lineTo(R, B + 0.5); ctx.stroke();
    ctx.strokeStyle = '#1e63c4';
    ctx.lineWidth = 1.6;
    ctx.beginPath();
    let open = false;
    for (let i = 0; i < n; ++i) {
      if (contact[i] || !Number.isFinite(clearance[i])) { open = false; continue; }
      if (open) ctx.lineTo(xOf(i), yOf(clearance[i])); else ctx.moveTo(xOf(i), yOf(clearance[i]));
      open = true;
    }
    ctx.stroke();
    ctx.lineWidth = 1;
    ctx.fillStyle = '#e53935';
    for (let i = 0; i < n; ++i) if (contact[i]) ctx.fillRect(xOf(i) - 2, B - 2, 4, 4);
    ctx.strokeStyle = '#1f2328';
    ctx.beginPath(); ctx.moveTo(xOf(current) + 0.5, T - 6); ctx.lineTo(xOf(current) + 0.5, B + 6); ctx.stroke();
    ctx.fillStyle = '#4a5058';
    ctx.font = '11px system-ui, sans-serif';
    ctx.fillText(`clearance (max ${fmt(hi / 1.08)})`, L + 2, T + 9);
    ctx.fillText('t = 0', L, H - 2);
    ctx.textAlign = 'right';
    ctx.fillText('t = 1', R, H - 2);
    ctx.textAlign = 'left';
  }

  const contactLists = sw.contacts.map((c) => ({ body: bodies[c.mesh], offsets: arrays[c.offsets], ranks: arrays[c.triangles] }));
  function show(i) {
    const m = new THREE.Matrix4().set(...Array.from(matrices.slice(16 * i, 16 * i + 16)));
    for (const r of sw.moving) bodies[r].place(m);
    for (const c of contactLists) c.body.contact(c.ranks.subarray(c.offsets[i], c.offsets[i + 1]));
    const p = points.subarray(6 * i, 6 * i + 6);
    closest.show(Number.isFinite(p[0]) ? p.slice(0, 3) : null, p.slice(3, 6), `clearance ${fmt(clearance[i])}`);
    text.textContent = `step ${i} of ${n - 1}   t = ${t[i].toFixed(4)}   ` +
      (contact[i] ? 'contact' : `clearance ${fmt(clearance[i])}`);
    slider.value = String(i);
    drawPlot(i);
    redraw();
  }
  slider.addEventListener('input', () => show(Number(slider.value)));
  const pick = (e) => {
    const x = (e.offsetX / plot.clientWidth) * W;
    show(Math.max(0, Math.min(n - 1, Math.round(((x - L) / (R - L)) * (n - 1)))));
  };
  plot.addEventListener('pointerdown', (e) => { pick(e); plot.setPointerCapture(e.pointerId); });
  plot.addEventListener('pointermove', (e) => { if (e.buttons) pick(e); });
  let timer = null;
  play.addEventListener('click', () => {
    if (timer !== null) {
      clearInterval(timer);
      timer = null;
      play.textContent = 'play';
      return;
    }
    play.textContent = 'pause';
    let i = Number(slider.value) >= n - 1 ? 0 : Number(slider.value);
    timer = setInterval(() => {
      show(i);
      if (++i >= n) { clearInterval(timer); timer = null; play.textContent = 'play'; }
    }, Math.max(30, 6000 / n));
  });
  show(sw.start);
}

main().catch((e) => {
  status('failed');
  const box = $('message');
  box.hidden = false;
  box.textContent = 'The view could not be drawn: ' + e;
  console.error('tvx-view: failed: ' + (e && e.stack ? e.stack : e));
});
