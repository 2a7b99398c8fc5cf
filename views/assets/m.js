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

  // ---- Followed persons: key -> { name, state } in localStorage. ----
  var FOLLOW = "quor.follow";
  function followed() {
    try { return JSON.parse(localStorage.getItem(FOLLOW)) || {}; } catch (e) { return {}; }
  }
  function saveFollowed(f) { try { localStorage.setItem(FOLLOW, JSON.stringify(f)); } catch (e) { /* private mode */ } }
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
    var ret = [p.returnDate, p.returnTime].filter(Boolean).join(" ");
    return p.name + " さんの状態が変わりました: " + (p.markCaption || "") + (ret ? "（戻り " + ret + "）" : "");
  }
  function checkFollowed(keys) {
    var f = followed();
    Object.keys(f).forEach(function (key) {
      if (keys && keys.indexOf(key) < 0) return;
      fetch("/api/v1/persons/" + encodeURIComponent(key), { credentials: "same-origin" }).then(function (r) {
        return r.ok ? r.json() : null;
      }).then(function (p) {
        if (!p) return;
        var now = followed();
        if (!now[key]) return;
        var state = p.state + "|" + p.mark + "|" + p.returnDate + "|" + p.returnTime;
        if (now[key].state !== state) {
          now[key].state = state;
          saveFollowed(now);
          tell(words(p));
        }
      });
    });
  }
  function markFollowed() {
    var f = followed();
    each(document.querySelectorAll("#persons .p"), function (li) {
      li.classList.toggle("followed", !!f[li.getAttribute("data-key")]);
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
      if (f[key]) {
        delete f[key];
        saveFollowed(f);
        show();
        return;
      }
      f[key] = { name: follow.getAttribute("data-name"), state: "" };
      saveFollowed(f);
      show();
      // The state now, so that only what changes later is told.
      fetch("/api/v1/persons/" + encodeURIComponent(key)).then(function (r) { return r.ok ? r.json() : null; })
        .then(function (p) {
          var g = followed();
          if (p && g[key]) { g[key].state = p.state + "|" + p.mark + "|" + p.returnDate + "|" + p.returnTime; saveFollowed(g); }
        });
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
      li.hidden = !ok;
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
  function changed(keys) {
    if ($("board")) refreshBoard();
    if ($("wall")) reload("wall", "/m/wall/part");
    if (state) {
      var key = state.getAttribute("data-key");
      if (!keys || keys.indexOf(key) >= 0) reload("state", location.pathname.replace(/\/$/, "") + "/part", function () { state = $("state"); });
    }
    checkFollowed(keys);
  }
  if (window.EventSource && (versioned || state || follow || Object.keys(followed()).length)) {
    var feed = new EventSource("/api/v1/events");
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
        headers: { "Content-Type": "application/json" }, body: JSON.stringify(data)
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
