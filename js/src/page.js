// The wiring of search.html: the search box, the keys, the sort order and the address,
// over a results view, a query history and an index loader; and a follower that brings
// in the run the indexer writes next.
define('page', ['view', 'texts', 'history', 'loader', 'pieces', 'follow'], function (view, texts, history, loader, pieces, follow) {

var performanceMark = loader.performanceMark;

var TYPING_PAUSE = 300;     // ms without a key before a typed search goes into the address
var TYPING_NOW = 1000;      // ms after a key in the box while the reader counts as typing
var NO_DOCUMENTS = { ensure: function (list, done) { done(); } };

function startPage(win) {
  var doc = win.document, byId = function (id) { return doc.getElementById(id); };
  var box = byId('q'), sortBox = byId('sort'), status = byId('status'), newer = byId('newer');
  var queryHistory = new history.QueryHistory(win);
  var results = new view.ResultsView(doc, { box: box, list: byId('results'), count: byId('count'), more: byId('more'), suggest: byId('suggest') },
    function (query) {
      box.value = query;
      run('commit');
      box.focus();
    });
  var searcher = null;
  var timer = 0;           // the pending search of a keystroke
  var lastMs = 0;          // how long the last search took
  var lastKeyAt = 0;       // when the last key came
  var recorded = 0;        // counts address changes, so that a late one knows it is stale
  var searches = 0;        // counts searches, so that pieces that come late know theirs is over
  var firstShown = false;

  function say(text, isError) {
    status.textContent = text;
    status.className = isError ? 'error' : '';
    status.setAttribute('role', isError ? 'alert' : 'status');
  }

  // Searches for the box's text; how tells the history what kind of search it is.
  function run(how) {
    win.clearTimeout(timer);
    timer = 0;
    if (!searcher) return;
    var q = box.value, started = Date.now(), mine = ++searches, byDate = sortBox.value === 'date';
    if (searcher.list instanceof pieces.WordPieces) {
      // The word index in pieces: the first results once the shards the query reaches
      // have come, then the whole answer once the vocabulary has (in-word and nearest
      // words), in place.
      // With the documents in pieces too, a screen is shown once its documents came.
      var shownOnce = false, here = searcher;
      pieces.searchInPieces(searcher, q, function (result) {
        var settled = false, then = null;
        // A first screen alone (from a common word's best pages) is no answer to order by
        // date, and none once the answer is on screen.
        if (result.firstScreen && (byDate || shownOnce)) return null;
        // What follows waits for the frame that draws them: a timer alone may run first,
        // and the vocabulary's scripts (a millisecond each to add) would hold that frame.
        function onScreen() {
          settled = true;
          if (then) view.afterFrame(win, then);
          then = null;
        }
        here.whenDated(byDate, function () {
          var screen = here.documents ? (byDate ? here.byDate(result.docs) : result.order).slice(0, view.PAGE_SIZE) : [];
          (here.documents || NO_DOCUMENTS).ensure(screen, function () {
            if (mine !== searches || searcher !== here) { onScreen(); return; }
            if (shownOnce) results.update(result, byDate); else results.show(result, byDate);
            shownOnce = true;
            if (!firstShown) { firstShown = true; performanceMark(win, 'vantrel-first-results'); }
            if (lastMs === 0 || mine === searches) lastMs = Date.now() - started;
            onScreen();
          });
        });
        // What comes after these results (the vocabulary) is asked for once they are shown.
        return function (next) { if (settled) view.afterFrame(win, next); else then = next; };
      }, function () { return mine === searches; });
    } else {
      results.show(searcher.search(q), byDate);
      lastMs = Date.now() - started;
    }
    if (how !== 'type') name(q);
    if (how !== 'again') record(q, sortBox.value, how);
  }

  function name(q) {
    doc.title = q.trim() ? q.trim() + ' \u2013 Search' : 'Search';
  }

  // Puts the search into the address and the page's title. A keystroke's go in once
  // typing pauses: changing the history costs browsers more than the search (10 ms a key
  // in Chromium from disk), a new title 0.3 to 7 ms (it goes to the browser at once),
  // and a later search, typed or settled, replaces them.
  function record(q, sort, how) {
    var mine = ++recorded;
    if (how !== 'type') queryHistory.record(q, sort, how);
    else win.setTimeout(function () { if (mine === recorded) { name(q); queryHistory.record(q, sort, how); } }, TYPING_PAUSE);
  }

  box.addEventListener('input', function () {
    win.clearTimeout(timer);
    timer = 0;
    // Debounce: keystrokes that come while a search is pending are coalesced into one
    // search. A keystroke is answered at once, in its own event, unless searches are
    // slow (on a very large site or a slow machine) and the keys come faster than they
    // are answered; then the search waits about one search's time for the next key.
    // (A timer of no delay waited 3 to 5 ms in Chromium behind the frame that draws
    // the key, a fifth of a keystroke's time.)
    var now = Date.now(), slow = lastMs >= 60 && now - lastKeyAt < lastMs;
    lastKeyAt = now;
    if (slow) timer = win.setTimeout(function () { run('type'); }, Math.min(150, lastMs));
    else run('type');
  });
  byId('search-form').addEventListener('submit', function (e) {
    e.preventDefault();
    run('commit');
  });
  box.addEventListener('keydown', function (e) {
    if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
      e.preventDefault();
      if (timer) run('type');
      results.move(e.key === 'ArrowDown' ? 1 : -1);
    } else if (e.key === 'Enter' && results.active >= 0) {
      e.preventDefault();
      var href = results.activeHref();
      if (href) win.location.assign(href);
    } else if (e.key === 'Escape') {
      e.preventDefault();
      if (box.value) {
        box.value = '';
        run('commit');
      }
    }
  });
  sortBox.addEventListener('change', function () {
    if (results.result) run('commit');
  });
  doc.addEventListener('keydown', function (e) {
    var t = e.target, typing = t && (t.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(t.tagName));
    if (((e.key === 'k' || e.key === 'K') && (e.ctrlKey || e.metaKey) && !e.altKey) ||
        (e.key === '/' && !typing && !e.ctrlKey && !e.metaKey && !e.altKey)) {
      e.preventDefault();
      box.focus();
      box.select();
    }
  });
  win.addEventListener('popstate', function () {
    var wanted = queryHistory.read();
    box.value = wanted.q;
    sortBox.value = wanted.sort;
    run('history');
  });

  var initial = queryHistory.read();
  box.value = initial.q;
  sortBox.value = initial.sort;
  say('Loading the search index\u2026');
  // Takes an index that came whole: its searcher, companion data and page texts.
  function useIndex(ready, companion, termsState) {
    searcher = results.searcher = ready;
    var docs = ready.docs, other = [], store = null;
    if (companion.state === 'ok' && companion.texts) {
      store = new texts.TextStore(win, companion.texts, ready.unicode, function (d, page) {
        if (results.texts === store) results.textArrived(d, page);
      });
    }
    results.useCompanion(companion.state === 'ok' ? companion : null, store);
    if (companion.state === 'format') other.push('indexed_pages.js');
    if (termsState === 'format') other.push('indexed_terms.js');
    say(docs.length === 0 ? 'The index holds no pages.' : other.length
      ? 'The search data beside this page (' + other.join(' and ') + ') was written by another version of VantrelIndexer: ' +
        'build the index again to see real titles and page texts and to find words of every language.' : '');
    box.placeholder = 'Search ' + view.plural(docs.length, 'page');
  }

  // A newer run beside the page: its results for the query in the box at once, or
  // while the reader types there, once they ask for them.
  var waiting = null;
  function newerRun(ready, companion, termsState) {
    var typing = doc.activeElement === box && Date.now() - lastKeyAt < TYPING_NOW;
    waiting = function () {
      waiting = null;
      if (newer) newer.hidden = true;
      useIndex(ready, companion, termsState);
      run('again');
      warmUp(win, ready);
    };
    if (typing && newer) newer.hidden = false; else waiting();
  }
  if (newer) newer.addEventListener('click', function () {
    if (waiting) waiting();
    box.focus();
  });

  new loader.IndexLoader(win, function (ready, companion, termsState) {
    useIndex(ready, companion, termsState);
    performanceMark(win, 'vantrel-index-ready');
    // A query typed while the index loaded is a new search; the address's is not.
    run(box.value === initial.q ? 'history' : 'commit');
    if (!(ready.list instanceof pieces.WordPieces)) performanceMark(win, 'vantrel-first-results');
    doc.documentElement.setAttribute('data-ready', 'true');
    warmUp(win, ready);
    // Only an index with companion data is followed; one that did not hold together as
    // it loaded (a run written meanwhile) is loaded again at the first look.
    if (companion.state === 'ok' || companion.state === 'stale') {
      var whole = companion.state === 'ok' && termsState === 'ok';
      new follow.Follower(win, whole ? follow.runOf(win.pages) : '', newerRun).schedule();
    }
  }, function (missing) {
    say('The search index could not be loaded: ' + missing.join(' and ') + (missing.length > 1 ? ' are' : ' is') +
      ' missing or damaged next to this page. Build the index again with VantrelIndexer.', true);
    box.setAttribute('aria-invalid', 'true');
  }).expect(initial.q).start();
}

// Once the index is ready: gets the word list ready for in-word matching and runs two
// searches, so that the first keystrokes find the search code compiled. One step per
// task, so a keystroke waits for one step at most. (The reader's date format is made
// by the first screen that shows a date, once that screen is drawn.)
function warmUp(win, searcher) {
  var queries = ['S', 'ION SE'], joined = false;
  if (searcher.list instanceof pieces.WordPieces) queries = []; // a search there loads pieces
  var step = function () {
    if (!joined) { joined = true; searcher.list.buildJoined(); }
    else if (queries.length) searcher.search(queries.shift());
    else return;
    win.setTimeout(step, 0);
  };
  view.afterFrame(win, step);
}

return { startPage: startPage };
});
