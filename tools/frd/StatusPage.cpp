// The status page: plain HTML, CSS and JavaScript, served from the binary. The token is asked for
// once and kept in sessionStorage (this browser tab only); "#token=..." in the address is taken
// too and removed from it.
#include "Service.h"

namespace frd {

const std::string& StatusPageHtml() {
    static const std::string kPage = R"HTML(<!DOCTYPE html>
<html lang="ru"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>frd: ККТ</title>
<style>
body{font-family:system-ui,sans-serif;margin:0;background:#f4f5f7;color:#1d2330}
header{background:#243b55;color:#fff;padding:.6em 1em;display:flex;justify-content:space-between;align-items:center}
h1{font-size:1.2em;margin:0} h2{font-size:1em;margin:1em 1em .4em}
main{max-width:60em;margin:auto}
.cards{display:flex;flex-wrap:wrap;gap:.6em;padding:0 1em}
.card{background:#fff;border-radius:.5em;padding:.7em 1em;min-width:12em;flex:1;box-shadow:0 1px 3px #0002}
.state{font-weight:bold;padding:.1em .5em;border-radius:1em;font-size:.85em}
.idle,.done{background:#d6f5dd;color:#17622b}.busy,.running,.queued{background:#dbe9ff;color:#1a4b99}
.offline,.failed{background:#fde0e0;color:#8c1c1c}.in_doubt{background:#fff0c2;color:#7a5600}
.tablewrap{overflow-x:auto;padding:0 1em}
table{border-collapse:collapse;width:100%;background:#fff;font-size:.9em}
td,th{padding:.35em .5em;border-bottom:1px solid #e3e6ea;text-align:left;white-space:nowrap}
#login{padding:1em} input{font-size:1em;padding:.4em;width:16em;max-width:70vw} button{font-size:1em;padding:.4em .8em}
.muted{color:#6b7280;font-size:.85em} .err{color:#8c1c1c}
</style></head><body>
<header><h1>frd: кассы</h1><span id="updated" class="muted"></span></header>
<main>
<form id="login" hidden><label>Ключ доступа (token): <input id="token" type="password" autocomplete="off"></label>
<button>Войти</button><p id="loginerr" class="err"></p></form>
<section id="view" hidden>
<h2>ККТ</h2><div id="registers" class="cards"></div>
<h2>Последние задания</h2>
<div class="tablewrap"><table><thead><tr><th>id</th><th>ККТ</th><th>операция</th><th>состояние</th>
<th>документ</th><th>код</th><th>создано</th></tr></thead><tbody id="jobs"></tbody></table></div>
</section></main>
<script>
"use strict";
const KEY = "frd.token";
const m = location.hash.match(/token=([^&]+)/);
if (m) { sessionStorage.setItem(KEY, decodeURIComponent(m[1])); history.replaceState(null, "", location.pathname); }
const $ = id => document.getElementById(id);
function cell(row, text, cls) { const td = document.createElement("td"); td.textContent = text; if (cls) td.className = cls; row.appendChild(td); return td; }
function badge(state) { const s = document.createElement("span"); s.className = "state " + state; s.textContent = state; return s; }
async function api(path) {
  const headers = {};
  const t = sessionStorage.getItem(KEY);
  if (t) headers.Authorization = "Bearer " + t;
  const r = await fetch(path, {headers});
  if (r.status === 401) throw new Error("401");
  if (!r.ok) throw new Error("HTTP " + r.status);
  return r.json();
}
function showLogin(text) { $("view").hidden = true; $("login").hidden = false; $("loginerr").textContent = text || ""; }
async function refresh() {
  try {
    const [regs, jobs] = await Promise.all([api("/v1/registers"), api("/v1/jobs?limit=25")]);
    $("login").hidden = true; $("view").hidden = false;
    const cards = $("registers"); cards.replaceChildren();
    for (const r of regs.registers) {
      const c = document.createElement("div"); c.className = "card register"; c.dataset.id = r.id;
      const h = document.createElement("div"); h.textContent = r.id + " "; h.appendChild(badge(r.state)); c.appendChild(h);
      const sh = r.shift ? "смена " + (r.shift.number ?? "?") + ": " + ({open: "открыта", closed: "закрыта", expired: "истекла"}[r.shift.state] || "?") : "смена: неизвестно";
      const q = document.createElement("div"); q.className = "muted"; q.textContent = sh + " · в очереди: " + r.queued; c.appendChild(q);
      if (r.last_error) { const e = document.createElement("div"); e.className = "muted err"; e.textContent = r.last_error.code + ": " + r.last_error.description; c.appendChild(e); }
      cards.appendChild(c);
    }
    const body = $("jobs"); body.replaceChildren();
    for (const j of jobs.jobs) {
      const row = document.createElement("tr"); row.className = "job"; row.dataset.id = j.id;
      cell(row, j.id); cell(row, j.register); cell(row, j.operation);
      cell(row, "").appendChild(badge(j.state));
      const out = j.result && j.result.outputs || {};
      const doc = out.CheckNumber ?? out.DocumentNumber ?? "";
      cell(row, doc === null ? "" : String(doc));
      cell(row, j.result ? String(j.result.code) : ""); cell(row, (j.created || "").replace("T", " ").replace("Z", ""));
      if (j.result && !j.result.success) row.title = j.result.description;
      body.appendChild(row);
    }
    $("updated").textContent = "обновлено " + new Date().toLocaleTimeString();
  } catch (e) {
    if (e.message === "401") { sessionStorage.removeItem(KEY); showLogin(sessionStorage.getItem(KEY) === null && $("token").value ? "Неверный ключ" : ""); }
    else $("updated").textContent = "нет связи: " + e.message;
  }
}
$("login").addEventListener("submit", ev => { ev.preventDefault(); sessionStorage.setItem(KEY, $("token").value); refresh(); });
refresh();
setInterval(refresh, 3000);
</script></body></html>
)HTML";
    return kPage;
}

}  // namespace frd
