// The console's page: signs in, then keeps the tables as the board's event
// stream says and draws the report's numbers as SVG heatmaps. Nothing is
// fetched from anywhere but this board.
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

function fill(id, rows, make) {
  const body = $(id).tBodies[0];
  body.replaceChildren(...rows.map(make));
}

function channelRow(c) {
  const tr = el("tr", undefined, { "data-user": c.user });
  tr.className = c.candidate ? "candidate" : c.status === "free" ? "free" : "";
  for (const t of [c.channel, c.number, c.status, c.user, c.transport, c.address,
    c.status === "free" ? "" : duration(c.seconds), c.watched ? "yes" : ""]) tr.append(el("td", String(t)));
  const last = el("td", c.candidate ? "bump candidate " : "");
  if (c.status !== "free") last.append(button("Kick", "kick", { channel: String(c.channel) }));
  tr.append(last);
  return tr;
}

function delayRow(d) {
  const tr = el("tr", undefined, { "data-user": d.user });
  for (const t of [d.user, d.stamp, d.holds ? d.lifts : d.until, d.holds ? "yes" : "no (lapses at the next log-on)"])
    tr.append(el("td", t));
  const last = el("td");
  last.append(button("Pardon", "pardon", { user: d.user }));
  tr.append(last);
  return tr;
}

function blockedRow(b) {
  const tr = el("tr");
  tr.append(el("td", b.address), el("td", duration(b.seconds)));
  const last = el("td");
  last.append(button("Unblock", "unblock", { address: b.address }));
  tr.append(last);
  return tr;
}

function showState(s) {
  fill("channels", s.who, channelRow);
  fill("delays", s.delays, delayRow);
  fill("blocked", s.blocked, blockedRow);
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
