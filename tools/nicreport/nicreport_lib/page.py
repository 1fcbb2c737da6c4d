"""The fleet as one self-contained HTML page: styles and script inline, nothing fetched.

The page reads its state from the address's fragment, so a link (or a test) can open it sorted
and filtered: #sort=COLUMN&dir=asc|desc&filter=TEXT. COLUMN is a data-key of the table head.
Without a sort the hosts stand as written: trouble first (failed, unreadable), then the rest;
equal values of a sorted column keep that order.
"""
import html
from typing import List, Optional

from .export import signature_state
from .fleet import GOOD, HostRun, summary, version_changes
from .logparse import COLUMNS

STYLE = """
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222}
h1{font-size:1.4em;margin:0 0 .3em}
.summary{margin:.5em 0 1em;font-size:1.05em}
.summary span{display:inline-block;padding:.15em .6em;border-radius:.8em;margin-right:.4em}
.s-ok{background:#d8f3dc}.s-failed{background:#f8d7da}.s-na{background:#e9ecef}.s-unreadable{background:#ffe5b4}
.s-trouble{background:#f8d7da}.s-notreached{background:#e9ecef}
.runinfo{color:#555;margin:.2em 0}
input#filter{padding:.35em .5em;width:22em;margin-bottom:.8em}
table.fleet{border-collapse:collapse;width:100%}
table.fleet>thead th{background:#343a40;color:#fff;text-align:left;padding:.4em .6em;cursor:pointer;user-select:none}
table.fleet>thead th[aria-sort=ascending]::after{content:" \\25B2"}
table.fleet>thead th[aria-sort=descending]::after{content:" \\25BC"}
table.fleet>tbody>tr>td{padding:.35em .6em;border-bottom:1px solid #ddd;vertical-align:top}
tbody.r-failed tr.host{background:#f8d7da}tbody.r-failed td.result{color:#842029;font-weight:bold}
tbody.r-unreadable tr.host{background:#ffe5b4}
tbody.r-timed-out tr.host,tbody.r-unreachable tr.host,tbody.r-busy tr.host{background:#f8d7da}
tbody.r-timed-out td.result,tbody.r-unreachable td.result,tbody.r-busy td.result{color:#842029;font-weight:bold}
tbody.r-not-reached tr.host{background:#e9ecef}
tbody.r-ok td.result{color:#0f5132}tbody.r-not-applicable td.result{color:#555}
tr.detail td{background:#fafafa;padding:.2em .6em .8em 2em}
table.versions{border-collapse:collapse;font-size:.92em;margin-top:.3em}
table.versions th,table.versions td{border:1px solid #ccc;padding:.15em .45em;text-align:left}
table.versions th{background:#e9ecef;color:#222}
td.changed{background:#d8f3dc}td.c-failed{background:#f8d7da}
.reason{color:#842029}
dl.run{display:grid;grid-template-columns:max-content auto;gap:.1em 1em;margin:.3em 0 .8em}
dl.run dt{color:#555}dl.run dd{margin:0;font-weight:600}
.sig-bad{color:#842029}.sig-ok{color:#0f5132}
.fleetwide{display:flex;flex-wrap:wrap;gap:2em;margin:0 0 1em}
.fleetwide h2{font-size:1.05em;margin:.2em 0}
table.changes{border-collapse:collapse;font-size:.92em}
table.changes th,table.changes td{border:1px solid #ccc;padding:.15em .5em;text-align:left}
table.changes th{background:#e9ecef}table.changes td.n{text-align:right}
tr.moved td{background:#d8f3dc}
ul.reset{margin:.2em 0;padding-left:1.2em}
"""

SCRIPT = """
(function(){
  var table=document.getElementById('fleet'), input=document.getElementById('filter');
  var state={sort:'',dir:'asc',filter:''};
  function read(){
    var h=location.hash.replace(/^#/,''), s={sort:'',dir:'asc',filter:''};
    h.split('&').forEach(function(p){var kv=p.split('=');if(kv.length==2&&kv[0] in s)s[kv[0]]=decodeURIComponent(kv[1]);});
    return s;
  }
  function write(){
    var parts=[];if(state.sort)parts.push('sort='+encodeURIComponent(state.sort)+'&dir='+state.dir);
    if(state.filter)parts.push('filter='+encodeURIComponent(state.filter));
    history.replaceState(null,'',parts.length?'#'+parts.join('&'):location.pathname);
  }
  function key(tb,k){var v=tb.getAttribute('data-'+k)||'';var n=parseFloat(v);return (v!==''&&!isNaN(n)&&String(n)===v)?n:v.toLowerCase();}
  function apply(){
    var bodies=Array.prototype.slice.call(table.tBodies);
    if(state.sort){
      bodies.sort(function(a,b){var x=key(a,state.sort),y=key(b,state.sort);
        var c=(x<y?-1:x>y?1:0);if(state.dir=='desc')c=-c;
        return c||(+a.getAttribute('data-order'))-(+b.getAttribute('data-order'));});
    }else{bodies.sort(function(a,b){return a.getAttribute('data-order')-b.getAttribute('data-order');});}
    bodies.forEach(function(b){table.appendChild(b);});
    var f=state.filter.toLowerCase(), shown=0;
    bodies.forEach(function(b){var hit=!f||b.textContent.toLowerCase().indexOf(f)>=0;b.hidden=!hit;if(hit)shown++;});
    document.getElementById('shown').textContent=shown+' of '+bodies.length+' hosts shown';
    Array.prototype.forEach.call(table.tHead.rows[0].cells,function(th){
      var k=th.getAttribute('data-key');
      if(k===state.sort)th.setAttribute('aria-sort',state.dir=='desc'?'descending':'ascending');else th.removeAttribute('aria-sort');});
    input.value=state.filter;
  }
  Array.prototype.forEach.call(table.tHead.rows[0].cells,function(th){
    th.addEventListener('click',function(){var k=th.getAttribute('data-key');
      state.dir=(state.sort===k&&state.dir==='asc')?'desc':'asc';state.sort=k;write();apply();});});
  input.addEventListener('input',function(){state.filter=input.value;write();apply();});
  window.addEventListener('hashchange',function(){state=read();apply();});
  state=read();apply();
})();
"""

HEAD_COLUMNS = [("host", "Host"), ("result", "Result"), ("status", "Exit status"), ("mode", "Mode"),
                ("adapters", "Adapters"), ("updated", "Updated"), ("failures", "Failed"), ("outcome", "Outcome")]


def _e(s) -> str:
    return html.escape("" if s is None else str(s), quote=True)


def _counts(h: HostRun):
    updated = sum(1 for a in h.adapters for c in a.components.values() if c.result == "updated")
    failed = sum(1 for a in h.adapters for c in a.components.values() if c.result == "failed")
    failed += sum(1 for a in h.adapters if not a.detected or a.crc == "failed")
    failed += sum(1 for a in h.adapters for v in a.mgmt.values() if v == "failed")
    return updated, failed


def _outcome(h: HostRun) -> str:
    if h.problem:
        return h.problem
    if h.reason:
        return h.reason
    r = h.run
    if r is None:
        return h.result
    if r.missing_tools and not r.adapters:
        return "no vendor utility: " + ", ".join(r.missing_tools)
    if r.no_adapters and not r.adapters:
        return "no adapter found"
    return {"complete": "update complete", "errors": "errors occurred"}.get(r.outcome, "done")


def _adapter_table(h: HostRun) -> str:
    if not h.adapters:
        return "<em>No adapter in this run.</em>" if not h.problem else "<em>%s</em>" % _e(h.problem)
    rows = ["<tr><th>Adapter</th><th></th>" + "".join("<th>%s</th>" % c for c in COLUMNS) +
            "<th>CRC</th><th>Management</th></tr>"]
    for a in h.adapters:
        label = "%s (%s)%s" % (a.mac, a.chip, "" if a.detected else " &mdash; firmware not detected")
        mgmt = ", ".join("%s %s" % kv for kv in sorted(a.mgmt.items()))
        rows.append('<tr><td rowspan="%d">%s</td><td>before</td>%s<td rowspan="%d">%s</td><td rowspan="%d">%s</td></tr>'
                    % (3 if a.after else 2, label if a.detected else _e(a.mac) + " (" + _e(a.chip) + ") &mdash; firmware not detected",
                       "".join("<td>%s</td>" % _e(a.before.get(c, "")) for c in COLUMNS),
                       3 if a.after else 2, _e(a.crc), 3 if a.after else 2, _e(mgmt)))
        if a.after:
            cells = []
            for c in COLUMNS:
                b, n = a.before.get(c, ""), a.after.get(c, "")
                cls = ' class="changed"' if n and b != n else ""
                cells.append("<td%s>%s</td>" % (cls, _e(n)))
            rows.append("<tr><td>after</td>%s</tr>" % "".join(cells))
        res = []
        for c in COLUMNS:
            comp = a.components.get(c)
            if comp is None:
                res.append("<td></td>")
            elif comp.result == "failed":
                res.append('<td class="c-failed">failed<br><span class="reason">%s</span></td>' % _e(comp.reason))
            else:
                res.append("<td>%s</td>" % _e(comp.result))
        rows.append("<tr><td>result</td>%s</tr>" % "".join(res))
    return '<table class="versions">%s</table>' % "".join(rows)


def to_html(hosts: List[HostRun], title: str = "Firmware roll-out report", runs: Optional[List[dict]] = None) -> str:
    s = summary(hosts)
    more = "".join('<span class="%s">%d %s</span>' % ("s-notreached" if r == "not reached" else "s-trouble", s[r], r)
                   for r in ("busy", "timed out", "unreachable", "not reached") if s[r])
    parts = ['<!DOCTYPE html><html lang="en"><head><meta charset="utf-8">',
             '<meta name="viewport" content="width=device-width">',
             "<title>%s</title><style>%s</style></head><body>" % (_e(title), STYLE),
             "<h1>%s</h1>" % _e(title)]
    parts += [_run_info(r) for r in runs or []]
    parts += ['<div class="summary" id="summary">%d hosts: <span class="s-ok">%d ok</span>'
              '<span class="s-failed">%d failed</span><span class="s-na">%d not applicable</span>'
              '<span class="s-unreadable">%d unreadable</span>%s</div>'
              % (s["hosts"], s["ok"], s["failed"], s["not applicable"], s["unreadable"], more),
              _fleetwide(hosts, s),
              '<input id="filter" type="search" placeholder="Filter hosts (any text)" aria-label="Filter">'
              ' <span id="shown"></span>',
              '<table class="fleet" id="fleet"><thead><tr>%s</tr></thead>'
              % "".join('<th data-key="%s">%s</th>' % (k, t) for k, t in HEAD_COLUMNS)]
    for order, h in enumerate(hosts):
        updated, failed = _counts(h)
        values = {"host": h.host, "result": h.result, "status": "" if h.status is None else h.status,
                  "mode": h.mode, "adapters": len(h.adapters), "updated": updated, "failures": failed,
                  "outcome": _outcome(h)}
        attrs = " ".join('data-%s="%s"' % (k, _e(v)) for k, v in values.items())
        parts.append('<tbody class="r-%s" data-order="%d" %s><tr class="host">%s</tr>'
                     % (_e(h.result.replace(" ", "-")), order, attrs,
                        "".join('<td class="%s">%s</td>' % (k, _e(values[k])) for k, _ in HEAD_COLUMNS)))
        parts.append('<tr class="detail"><td colspan="%d"><details%s><summary>Adapters of %s</summary>%s'
                     '<div class="logpath">Log: %s</div></details></td></tr></tbody>'
                     % (len(HEAD_COLUMNS), " open" if h.result not in GOOD + ("not reached",) else "",
                        _e(h.host), _adapter_table(h), _e(h.log)))
    parts.append("</table><script>%s</script></body></html>\n" % SCRIPT)
    return "".join(parts)


def _run_info(run: dict) -> str:
    """When the roll-out ran, what it rolled out and whether its signature held."""
    pkg = run.get("package") or {}
    sig = signature_state(run)
    mode = str(run.get("mode", "?")) + (" (check mode: nothing written)" if run.get("check") else "")
    rows = [("Run", run.get("run", "?")),
            ("Started", (run.get("started") or "?").replace("T", " ")),
            ("Ended", (run.get("ended") or "not recorded").replace("T", " ")),
            ("Mode", mode),
            ("Package", "%s (%s bytes)" % (pkg.get("name", "?"), pkg.get("size", "?"))),
            ("SHA-256", pkg.get("sha256", "?"))]
    cls = "sig-ok" if sig.startswith("verified") else "sig-bad"
    return ('<dl class="run runinfo">%s<dt>Signature</dt><dd class="%s" id="signature">%s</dd></dl>'
            % ("".join("<dt>%s</dt><dd>%s</dd>" % (_e(k), _e(v)) for k, v in rows), cls, _e(sig)))


def _fleetwide(hosts: List[HostRun], s: dict) -> str:
    """Versions before and after across the fleet, and the hosts that need a reset."""
    changes = version_changes(hosts)
    rows = "".join('<tr class="%s"><td>%s</td><td>%s</td><td>%s</td><td class="n">%d</td></tr>'
                   % ("moved" if c["before"] != c["after"] else "", _e(c["component"]), _e(c["before"]),
                      _e(c["after"]), c["adapters"]) for c in changes)
    table = ('<table class="changes" id="versions"><tr><th>Component</th><th>Before</th><th>After</th>'
             '<th>Adapters</th></tr>%s</table>' % rows) if changes else "<em>No adapter versions read.</em>"
    reset = s.get("resetNeeded", [])
    resets = ('<p>%d host%s must be reset for the new firmware to run:</p><ul class="reset">%s</ul>'
              % (len(reset), "" if len(reset) == 1 else "s", "".join("<li>%s</li>" % _e(h) for h in reset))
              if reset else "<p>No host needs a reset.</p>")
    would = ""
    if "wouldUpdate" in s:
        would = ('<div><h2>Check mode</h2><p id="would">%d host%s would be updated%s</p></div>'
                 % (len(s["wouldUpdate"]), "" if len(s["wouldUpdate"]) == 1 else "s",
                    (": " + _e(", ".join(s["wouldUpdate"]))) if s["wouldUpdate"] else ""))
    return ('<div class="fleetwide"><div><h2>Versions across the fleet</h2>%s</div>'
            '<div id="reset"><h2>Reset needed</h2>%s</div>%s</div>' % (table, resets, would))
