// Follows the index beside the page: while the page is shown, it loads indexed_pages.js
// again every POLL_EVERY ms (a fresh <script> with its own query, so no cache answers)
// and, when it names another run than the one on screen, loads that run whole into
// fresh objects beside the old ones. Only a run that came complete and whose files
// belong together (the companion data and the word index checked against the
// documents) is handed over; anything else is tried again at the next look, a few
// times at most for the same run.
define('follow', ['loader'], function (loader) {

var POLL_EVERY = 1500;       // ms between two looks at indexed_pages.js
var MAX_TRIES = 3;           // loads of one run that did not hold together before it is left

// What tells one run from another in its companion data, or '' when there is none.
function runOf(pages) {
  if (!pages || typeof pages !== 'object') return '';
  return [pages.format, pages.check, pages.count, pages.words].map(String).join('\n');
}

// held: the run on screen (runOf its companion data, '' to load the one beside the page
// at the first look); arrived(searcher, companion, termsState): a newer run, complete.
function Follower(win, held, arrived) {
  this.win = win;
  this.held = held;
  this.arrived = arrived;
  this.timer = 0;
  this.busy = false;         // a look or a load is under way
  this.tried = '';           // the run that last failed to hold together
  this.tries = 0;
  this.looks = 0;
  var self = this;
  win.document.addEventListener('visibilitychange', function () { self.schedule(); });
}

// Looks again in POLL_EVERY ms while the page is shown; stops while it is hidden.
Follower.prototype.schedule = function () {
  var self = this, win = this.win;
  win.clearTimeout(this.timer);
  this.timer = 0;
  if (win.document.visibilityState === 'hidden' || this.busy) return;
  this.timer = win.setTimeout(function () { self.timer = 0; self.look(); }, POLL_EVERY);
};

Follower.prototype.look = function () {
  var self = this, win = this.win, doc = win.document, script = doc.createElement('script');
  var fresh = '?t=' + Date.now() + '-' + (++this.looks);
  this.busy = true;
  script.src = 'indexed_pages.js' + fresh;
  script.charset = 'utf-8';
  script.onload = script.onerror = function () {
    script.remove();
    var run = runOf(win.pages);
    if (run === '' || run === self.held || (run === self.tried && self.tries >= MAX_TRIES)) { self.done(); return; }
    self.load(run, fresh);
  };
  doc.head.appendChild(script);
};

Follower.prototype.load = function (run, fresh) {
  var self = this;
  new loader.IndexLoader(this.win, function (found, companion, termsState) {
    if (companion.state === 'ok' && termsState === 'ok') {
      self.held = run;
      self.tries = 0;
      self.done();
      self.arrived(found, companion, termsState);
    } else self.failed(run);
  }, function () { self.failed(run); }, fresh).start();
};

// A run whose files did not hold together (a later run replaced some of them meanwhile).
Follower.prototype.failed = function (run) {
  if (run !== this.tried) { this.tried = run; this.tries = 0; }
  this.tries++;
  this.done();
};

Follower.prototype.done = function () {
  this.busy = false;
  this.schedule();
};

return { Follower: Follower, runOf: runOf };
});
