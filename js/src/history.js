// The query in the address (?q=...&sort=date), so that searches can be bookmarked and
// Back and Forward restore them. A search the visitor settled on (Enter, a pause, a
// choice) keeps its own history entry; the keystrokes of one burst of typing share one.
define('history', [], function () {

function QueryHistory(win) {
  this.win = win;
  this.settled = true;     // the current entry holds a settled search
  this.lastChange = 0;     // when the address last changed, in ms
}

// The query and sort order in the address.
QueryHistory.prototype.read = function () {
  var params = new URLSearchParams(this.win.location.search);
  return { q: params.get('q') || '', sort: params.get('sort') === 'date' ? 'date' : 'relevance' };
};

// Puts a search into the address. how: 'type' (a keystroke), 'commit' (settled) or
// 'history' (the address already holds it).
QueryHistory.prototype.record = function (q, sort, how) {
  var win = this.win, params = new URLSearchParams();
  if (q) params.set('q', q);
  if (sort === 'date') params.set('sort', 'date');
  var search = params.toString();
  search = search ? '?' + search : '';
  if (how === 'history') {
    this.settled = true;
    return;
  }
  if (search !== win.location.search) {
    var url = win.location.pathname + search;
    try {
      if (this.settled || Date.now() - this.lastChange > 1500) win.history.pushState({ q: q }, '', url);
      else win.history.replaceState({ q: q }, '', url);
    } catch (e) { /* some browsers refuse history changes on file: pages */ }
    this.lastChange = Date.now();
  }
  this.settled = how === 'commit';
};

return { QueryHistory: QueryHistory };
});
