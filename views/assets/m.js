// Quorwell views: the board filtered as one types, kept current from
// /api/v1/events, people followed, the forms written through /api/v1.
// Without this script every view still works (query parameters, form posts).
(function () {
  "use strict";
  // Search folding, the same tables as views/view_fold.cpp (a test there
  // compares them): half-width kana 0xFF61..0xFF9F in order, the letters a
  // voiced and a semi-voiced mark join.
  var FULL = "。「」、・をぁぃぅぇぉゃゅょっーあいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわん゛゜";
  var VOICE = "ｳｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾊﾋﾌﾍﾎ";
  var SEMI = "ﾊﾋﾌﾍﾎ";
  function fold(s) {
    var out = "", i, c, n;
    for (i = 0; i < s.length; i++) {
      c = s.charCodeAt(i);
      if (c >= 0xff61 && c <= 0xff9f) {
        n = s.charCodeAt(i + 1);
        var f = FULL.charCodeAt(c - 0xff61);
        if (n === 0xff9e && VOICE.indexOf(s[i]) >= 0) { f = c === 0xff73 ? 0x30f4 : f + 1; i++; }
        else if (n === 0xff9f && SEMI.indexOf(s[i]) >= 0) { f += 2; i++; }
        c = f;
      } else if (c >= 0x30a1 && c <= 0x30f3) c -= 0x60;
      else if ((c >= 0xff10 && c <= 0xff19) || (c >= 0xff21 && c <= 0xff3a) || (c >= 0xff41 && c <= 0xff5a)) c -= 0xfee0;
      if (c >= 65 && c <= 90) c += 32;
      if (c === 32 || c === 0x3000) continue;
      out += String.fromCharCode(c);
    }
    return out;
  }

  function $(id) { return document.getElementById(id); }
  function each(list, f) { Array.prototype.forEach.call(list, f); }
  function fragment(html) {
    var t = document.createElement("template");
    t.innerHTML = html.trim();
    return t.content.firstElementChild;
  }
  // Fetches a fragment and puts it in place of the element of its id;
  // one at a time per id, the last request wins.
  var loading = {};
  function reload(id, url, then) {
    if (loading[id]) { loading[id] = url; return; }
    loading[id] = url;
    fetch(url, { credentials: "same-origin" }).then(function (r) {
      if (!r.ok) throw r.status;
      return r.text();
    }).then(function (html) {
      var again = loading[id] !== url && loading[id];
      loading[id] = null;
      var old = $(id), next = fragment(html);
      if (old && next && next.id === id) { old.replaceWith(next); if (then) then(); }
      if (again) reload(id, again, then);
    }).catch(function () { loading[id] = null; });
  }

  // ---- Followed persons: their keys and names in localStorage, what this
  // page last saw of each in memory (every open page tells on its own). ----
  var FOLLOW = "quor.follow";
  function followed() {
    try { return JSON.parse(localStorage.getItem(FOLLOW)) || {}; } catch (e) { return {}; }
  }
  function saveFollowed(f) { try { localStorage.setItem(FOLLOW, JSON.stringify(f)); } catch (e) { /* private mode */ } }
  var seen = {};
  function stateOf(p) { return [p.state, p.mark, p.returnDate, p.returnTime, p.reason].join("|"); }
  function person(key) {
    return fetch("/api/v1/persons/" + encodeURIComponent(key), { credentials: "same-origin" })
      .then(function (r) { return r.ok ? r.json() : null; });
  }
  var title = document.title;
  function tell(text) {
    var box = $("notices");
    if (box) {
      var p = document.createElement("p"), b = document.createElement("button");
      p.className = "note";
      p.textContent = text;
      b.type = "button";
      b.textContent = "閉じる";
      b.addEventListener("click", function () { p.remove(); document.title = title; });
      p.appendChild(b);
      box.appendChild(p);
    }
    document.title = "● " + text + " - " + title;
  }
  document.addEventListener("visibilitychange", function () {
    if (!document.hidden) setTimeout(function () { document.title = title; }, 10000);
  });
  function words(p) {
    if (p.state === "present") return p.name + " さんが戻りました（在席）";
    // With no return moment the date holds the mark's caption again.
    var ret = p.returnDate === p.markCaption ? "" : [p.returnDate, p.returnTime].filter(Boolean).join(" ");
    return p.name + " さんの状態が変わりました: " + (p.markCaption || "") + (ret ? "（戻り " + ret + "）" : "");
  }
  function look(key, quiet) {
    person(key).then(function (p) {
      if (!p || !followed()[key]) return;
      var s = stateOf(p);
      if (!quiet && seen[key] !== undefined && seen[key] !== s) tell(words(p));
      seen[key] = s;
    });
  }
  function checkFollowed(keys) {
    Object.keys(followed()).forEach(function (key) {
      if (!keys || keys.indexOf(key) >= 0) look(key, false);
    });
  }
  Object.keys(followed()).forEach(function (key) { look(key, true); });
  function markFollowed() {
    var f = followed();
    var keys = Object.keys(f);
    each(document.querySelectorAll("#persons .p.followed"), function (li) {
      if (!f[li.getAttribute("data-key")]) li.classList.remove("followed");
    });
    if (!keys.length) return;
    each(document.querySelectorAll("#persons .p"), function (li) {
      if (f[li.getAttribute("data-key")]) li.classList.add("followed");
    });
  }
  var follow = $("follow");
  if (follow) {
    var key = follow.getAttribute("data-key");
    var show = function () {
      var on = !!followed()[key];
      follow.setAttribute("aria-pressed", on ? "true" : "false");
      follow.textContent = on ? "お知らせ中（やめる）" : "戻ったら・変わったら知らせる";
    };
    follow.hidden = false;
    show();
    follow.addEventListener("click", function () {
      var f = followed();
      if (f[key]) delete f[key]; else f[key] = { name: follow.getAttribute("data-name") };
      saveFollowed(f);
      show();
      if (f[key]) look(key, true);
    });
  }

  // ---- The board's filters: in the URL, applied as one types. ----
  var q = $("q"), group = $("group");
  var params = new URLSearchParams(location.search);
  var want = { q: params.get("q") || "", row: params.get("row") || "", group: params.get("group") || "" };
  var shown = { q: want.q, row: want.row, group: want.group }; // what the server's list was made for
  function query(f) {
    var p = new URLSearchParams();
    if (f.q) p.set("q", f.q);
    if (f.group) p.set("group", f.group);
    if (f.row) p.set("row", f.row);
    var s = p.toString();
    return s ? "?" + s : "";
  }
  function applyFilter() {
    var fq = fold(want.q), n = 0, board = $("board");
    each(document.querySelectorAll("#persons .p"), function (li) {
      var ok = (!fq || li.getAttribute("data-k").indexOf(fq) >= 0) &&
        (!want.row || li.getAttribute("data-row") === want.row) &&
        (!want.group || li.getAttribute("data-group") === want.group);
      if (li.hidden === ok) li.hidden = !ok; // untouched rows cost no style work
      if (ok) n++;
    });
    var count = $("count");
    if (count && board) count.textContent = n + "人" + (n < +board.getAttribute("data-total") ? " / " + board.getAttribute("data-total") + "人中" : "");
    markFollowed();
  }
  function refreshBoard() {
    var url = "/m/board" + query(want), f = { q: want.q, row: want.row, group: want.group };
    reload("board", url, function () { shown = f; applyFilter(); });
  }
  function filtersChanged() {
    history.replaceState(null, "", "/m/" + query(want));
    each(document.querySelectorAll("#rows a"), function (a) {
      var r = a.getAttribute("data-row");
      if (r === want.row) a.setAttribute("aria-current", "true"); else a.removeAttribute("aria-current");
      a.href = "/m/" + query({ q: want.q, group: want.group, row: r });
    });
    var hidden = document.querySelector("#filters input[name=row]");
    if (hidden) hidden.value = want.row;
    applyFilter();
    // The list on the page holds everybody the new filter can show only
    // when the filter narrows the one it was made for.
    var covers = (!shown.row || shown.row === want.row) && (!shown.group || shown.group === want.group) &&
      fold(want.q).indexOf(fold(shown.q)) >= 0;
    if (!covers) refreshBoard();
  }
  if (q) {
    q.addEventListener("input", function () { want.q = q.value; filtersChanged(); });
    if (group) group.addEventListener("change", function () { want.group = group.value; filtersChanged(); });
    each(document.querySelectorAll("#rows a"), function (a) {
      a.addEventListener("click", function (e) {
        e.preventDefault();
        want.row = a.getAttribute("data-row");
        filtersChanged();
      });
    });
    $("filters").addEventListener("submit", function (e) { e.preventDefault(); filtersChanged(); });
    applyFilter();
  }

  // ---- Live: what the feed says has changed is fetched again. ----
  var versioned = document.querySelector("[data-version]");
  var version = versioned ? +versioned.getAttribute("data-version") : -1;
  var state = $("state");
  // Only the changed rows, when the feed names them and each is on the page
  // or was filtered out by the server in the first place.
  function refreshRows(keys) {
    var rows = {};
    each(document.querySelectorAll("#persons .p"), function (li) { rows[li.getAttribute("data-key")] = li; });
    fetch("/m/board?keys=" + encodeURIComponent(keys.join("\n")), { credentials: "same-origin" }).then(function (r) {
      if (!r.ok) throw r.status;
      return r.text();
    }).then(function (html) {
      var got = {}, whole = false;
      each(fragment(html).querySelectorAll(".p"), function (li) { got[li.getAttribute("data-key")] = li; });
      keys.forEach(function (key) {
        if (rows[key] && got[key]) rows[key].replaceWith(got[key]);
        else if (rows[key]) rows[key].remove();
        else if (got[key]) whole = true; // a new row, or one the server's filter left out: its place is the server's
      });
      if (whole) refreshBoard(); else applyFilter();
    }).catch(refreshBoard);
  }
  // The page's "as of" line: live now, so it says so and when the last change came.
  function live(when) {
    var line = $("loaded");
    if (!line || line.querySelector("strong")) return; // the share is lost: the server's words stand
    var t = new Date(), two = function (n) { return (n < 10 ? "0" : "") + n; };
    line.textContent = "自動で更新しています。" + (when ? "最後の変更 " + two(t.getHours()) + ":" + two(t.getMinutes()) + ":" + two(t.getSeconds()) : "");
  }
  function changed(keys) {
    live(true);
    if ($("board")) { if (keys && keys.length && keys.length <= 50) refreshRows(keys); else refreshBoard(); }
    if ($("wall")) reload("wall", "/m/wall/part");
    if (state) {
      var key = state.getAttribute("data-key");
      if (!keys || keys.indexOf(key) >= 0) reload("state", location.pathname.replace(/\/$/, "") + "/part", function () { state = $("state"); });
    }
    checkFollowed(keys);
  }
  if (window.EventSource && (versioned || state || follow || Object.keys(followed()).length)) {
    var feed = new EventSource("/api/v1/events");
    feed.addEventListener("open", function () { if (!loading.board) live(false); });
    feed.addEventListener("change", function (e) {
      var d = JSON.parse(e.data);
      version = d.version;
      changed(d.keys || []);
    });
    // Sent first on every connection: a newer version means changes were missed.
    feed.addEventListener("version", function (e) {
      var d = JSON.parse(e.data);
      if (d.version !== version) { version = d.version; changed(null); }
    });
  }
  // The wall's clock, dimming and overdue marks move with time alone.
  if ($("wall")) setInterval(function () { reload("wall", "/m/wall/part"); }, 60000);

  // ---- The forms through the API; the answer page confirms. ----
  function showError(form, text) {
    var p = $("error");
    if (!p) {
      p = document.createElement("p");
      p.id = "error";
      p.setAttribute("role", "alert");
      form.parentNode.insertBefore(p, form);
    }
    p.textContent = text;
    p.scrollIntoView({ block: "center" });
  }
  each(document.querySelectorAll("form[data-api]"), function (form) {
    form.addEventListener("submit", function (e) {
      e.preventDefault();
      var data = {};
      new FormData(form).forEach(function (v, k) { if (k !== "t") data[k] = v; });
      var done = form.id === "message-form" ? "message" : data.type === "reset" ? "clear" : "absence";
      if (data.mark !== undefined) { if (data.mark === "") delete data.mark; else data.mark = parseInt(data.mark, 10); }
      fetch(form.getAttribute("data-api"), {
        method: "POST", credentials: "same-origin",
        headers: { "Content-Type": "application/json", "X-Quor-View": "1" }, body: JSON.stringify(data)
      }).then(function (r) {
        return r.json().then(function (j) { return { ok: r.ok, body: j }; });
      }).then(function (a) {
        if (a.ok) { location.assign(location.pathname + "?done=" + done); return; }
        var j = a.body || {};
        if (j.characters && j.characters.length)
          showError(form, "次の文字は Shift-JIS にないため保存できません: " + j.characters.join(" "));
        else
          showError(form, "保存できませんでした（" + (j.field || "") + "）: " + (j.error || ""));
      }).catch(function () { showError(form, "送れませんでした。通信を確かめてください。"); });
    });
  });
})();
