// The console's page: signs in, then keeps the tables as the board's event
// stream says, row by row in place, and draws the report's numbers as SVG
// heatmaps. Nothing is fetched from anywhere but this board.
"use strict";

const api = "/console/api/";
let csrf = "";
let stream = null;
const $ = (id) => document.getElementById(id);

function say(text) { $("status").textContent = text || ""; }

async function call(name, body) {
  const init = body === undefined ? {} : {
    method: "POST", body: JSON.stringify(body),
    headers: { "Content-Type": "application/json", "X-CSRF-Token": csrf },
  };
  const r = await fetch(api + name, init);
  const answer = await r.json().catch(() => ({ error: "the board answered " + r.status }));
  if (!r.ok) throw Object.assign(new Error(answer.error || String(r.status)), { status: r.status });
  return answer;
}

function el(tag, text, attrs) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
  return e;
}

function button(label, name, body) {
  const b = el("button", label);
  b.addEventListener("click", () => call(name, body).then((a) => say(a.done)).catch(failed));
  return b;
}

function failed(e) {
  if (e.status === 401) return showSignIn("Signed out: " + e.message);
  say(e.message);
}

function duration(s) {
  const h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60;
  return h + ":" + String(m).padStart(2, "0") + ":" + String(s % 60).padStart(2, "0");
}

// Keeps table ID's rows as ROWS say. Each row is found again by its key:
// a row still shown keeps its element, its button and the focus, and only
// cells whose text changed are written; a button always acts on the row it
// was made for, since the key holds what it names.
function fill(id, rows) {
  const body = $(id).tBodies[0];
  const wanted = new Set(rows.map((r) => r.key));
  for (const tr of [...body.rows]) if (!wanted.has(tr.dataset.key)) tr.remove();
  const shown = new Map([...body.rows].map((tr) => [tr.dataset.key, tr]));
  rows.forEach((r, i) => {
    const tr = shown.get(r.key) || made(r);
    if (tr.className !== r.cls) tr.className = r.cls;
    r.cells.forEach((t, j) => { if (tr.cells[j].textContent !== t) tr.cells[j].textContent = t; });
    const note = tr.lastElementChild.firstChild;
    if (note.textContent !== r.note) note.textContent = r.note;
    if (body.rows[i] !== tr) body.insertBefore(tr, body.rows[i] || null);
  });
}

function made(r) {
  const tr = el("tr", undefined, { "data-key": r.key, "data-user": r.user || "" });
  for (let j = 0; j < r.cells.length; j++) tr.append(el("td"));
  const last = el("td");
  last.append(document.createTextNode(""));
  if (r.act) last.append(button(...r.act));
  tr.append(last);
  return tr;
}

function channelRow(c) {
  const free = c.status === "free";
  return {
    key: `${c.channel} ${free ? "free" : "on"} ${c.user}`, user: c.user,
    cls: c.candidate ? "candidate" : free ? "free" : "",
    cells: [c.channel, c.number, c.status, c.user,
      c.carried ? `${c.transport}, ${c.carried}` : c.transport, c.address,
      free ? "" : duration(c.seconds), c.watched ? "yes" : ""].map(String),
    note: c.candidate ? "bump candidate " : "",
    act: free ? null : ["Kick", "kick", { channel: String(c.channel), user: c.user }],
  };
}

function delayRow(d) {
  return {
    key: d.user, user: d.user, cls: "", note: "",
    cells: [d.user, d.stamp, d.holds ? d.lifts : d.until, d.holds ? "yes" : "no (lapses at the next log-on)"],
    act: ["Pardon", "pardon", { user: d.user }],
  };
}

function blockedRow(b) {
  return { key: b.address, cls: "", note: "", cells: [b.address, duration(b.seconds)],
    act: ["Unblock", "unblock", { address: b.address }] };
}

function showState(s) {
  fill("channels", s.who.map(channelRow));
  fill("delays", s.delays.map(delayRow));
  fill("blocked", s.blocked.map(blockedRow));
}

// One heatmap: a row per label, a column per bucket, each cell shaded by
// its count against the largest of the map and titled with the count.
function heatmap(title, columns, rows) {
  const ns = "http://www.w3.org/2000/svg";
  const cell = 34, left = 110, top = 30;
  const svg = document.createElementNS(ns, "svg");
  const w = left + columns.length * cell, h = top + rows.length * 20 + 4;
  svg.setAttribute("viewBox", `0 0 ${w} ${h}`);
  svg.setAttribute("width", w);
  svg.setAttribute("role", "img");
  svg.setAttribute("aria-label", title);
  const most = Math.max(1, ...rows.flatMap((r) => r.counts));
  const text = (x, y, t, anchor) => {
    const e = document.createElementNS(ns, "text");
    e.setAttribute("x", x); e.setAttribute("y", y); e.textContent = t;
    if (anchor) e.setAttribute("text-anchor", anchor);
    svg.append(e);
  };
  columns.forEach((c, i) => text(left + i * cell + cell / 2, top - 8, c, "middle"));
  rows.forEach((r, j) => {
    text(0, top + j * 20 + 14, r.label);
    r.counts.forEach((n, i) => {
      const rect = document.createElementNS(ns, "rect");
      rect.setAttribute("x", left + i * cell); rect.setAttribute("y", top + j * 20);
      rect.setAttribute("width", cell - 2); rect.setAttribute("height", 18);
      rect.setAttribute("fill", n === 0 ? "#eee" : `rgba(200,60,20,${0.15 + 0.85 * n / most})`);
      rect.setAttribute("data-count", n);
      const tip = document.createElementNS(ns, "title");
      tip.textContent = `${r.label}, ${columns[i]}: ${n}`;
      rect.append(tip);
      svg.append(rect);
    });
  });
  const box = el("div", undefined, { class: "heatmap" });
  box.append(el("h3", title), svg);
  return box;
}

function showReport(r) {
  const out = $("report");
  out.replaceChildren();
  const hours = Array.from({ length: 24 }, (_, i) => String(i).padStart(2, "0"));
  const t = r.today;
  if (t.day) out.append(heatmap(`Today ${t.day} since ${t.since}: ${t.label}`, hours,
    t.rows.map((x) => ({ label: x.kind, counts: x.counts }))));
  if (r.error) out.append(el("p", r.error, { class: r.missing ? "note" : "damaged" }));
  for (const d of r.days.slice().reverse()) {
    if (d.damaged) { out.append(el("p", `The day ${d.day || "at line " + d.line} cannot be read: ${d.damaged}`, { class: "damaged" })); continue; }
    for (const tb of d.tables)
      out.append(heatmap(`${d.day} ${tb.kind} (the module's report)`, r.buckets,
        tb.rows.map((x) => ({ label: x.key, counts: x.counts }))));
  }
}

function watch() {
  if (stream) stream.close();
  stream = new EventSource(api + "events");
  stream.addEventListener("state", (e) => showState(JSON.parse(e.data)));
  stream.addEventListener("end", () => { stream.close(); showSignIn("The session has ended."); });
}

async function showConsole(user) {
  $("me").textContent = "signed in as " + user;
  $("signin").hidden = true; $("console").hidden = false; $("signout").hidden = false;
  watch();
  showReport(await call("report"));
}

function showSignIn(why) {
  if (stream) stream.close();
  stream = null; csrf = "";
  $("console").hidden = true; $("signout").hidden = true; $("signin").hidden = false;
  $("me").textContent = "";
  say(why);
}

$("signin").addEventListener("submit", async (e) => {
  e.preventDefault();
  const f = e.target;
  try {
    const a = await call("signin", { user: f.user.value, password: f.password.value });
    csrf = a.csrf; f.password.value = ""; say("");
    await showConsole(a.user);
  } catch (err) { say(err.message); }
});
$("say").addEventListener("submit", (e) => {
  e.preventDefault();
  call("say", { text: e.target.text.value }).then((a) => { say(a.done); e.target.text.value = ""; }).catch(failed);
});
$("signout").addEventListener("click", () => call("signout", {}).then(() => showSignIn("Signed out.")).catch(failed));
setInterval(() => { if (csrf) call("report").then(showReport).catch(failed); }, 60000);

call("session").then((s) => { csrf = s.csrf; return showConsole(s.user); }).catch(() => showSignIn(""));
