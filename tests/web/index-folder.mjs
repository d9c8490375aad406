// An index folder as the search page reads it, in Node: the documents, the companion
// data and two searchers over the same word index, one over indexed_terms.js whole (with
// the titles and summaries of every document piece) and one over the store as the page
// of indexed_pages.js format 2 makes it (the head, the ranking pieces, the word shards
// and documents fetched from disk as asked, each fetch counted), and the complete answer
// of a search over the pieces.
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';

export function loadFolder(S, dir) {
  const box = {};
  vm.runInNewContext(new TextDecoder('windows-1252').decode(fs.readFileSync(path.join(dir, 'indexed_docs.js'))), box);
  for (const f of ['indexed_pages.js', 'indexed_terms.js']) vm.runInNewContext(fs.readFileSync(path.join(dir, f), 'utf8'), box);
  const { docs, pages, terms } = box;
  const fetched = [];
  const readPiece = (name) => {
    fetched.push(name);
    const piece = { };
    piece.vantrelWords = piece.vantrelKeys = piece.vantrelNear = piece.vantrelGrams = piece.vantrelInWord = piece.vantrelLinks = piece.vantrelWordsHead = piece.vantrelDocs = piece.vantrelRanks = piece.vantrelNames = (data) => { piece.data = data; };
    vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_text', name), 'utf8'), piece);
    return piece.data;
  };
  const fetch = (name, done) => done(readPiece(name));
  const head = S.storeHeadData(readPiece(pages.top || pages.words), pages);
  if (head.state !== 'ok') throw new Error(`${dir}: the head of the word index is ${head.state}`);
  // With titles, file names and summaries in the shards, the ranking pieces are not read.
  const places = head.head.places === 1;
  const ranks = places ? null : S.ranksOf(head.head, head.head.ranks.map(readPiece));
  if (!places && !ranks) throw new Error(`${dir}: a ranking piece is damaged`);
  const stored = S.storeSearcher(head.head, ranks, pages.base, fetch);
  const inPieces = stored.searcher, list = inPieces.list;
  // A searcher over the store as a page opened fresh makes it.
  const fresh = () => S.storeSearcher(head.head, ranks, pages.base, fetch).searcher;
  const companion = everyDocument(S, head.head, pages.base, readPiece);
  const whole = new S.Searcher(docs, null, { terms: S.termsData(terms, docs), realTitles: companion.titles });
  whole.useSummaries(S.summaryWords(companion.summaries, docs.length, true));
  fetched.length = 0;
  fetched.push(pages.top || pages.words, ...(places ? [] : head.head.ranks));
  // A searcher over another head of the same index (changed by a test) and fetch.
  const over = (other, fetchOther) => S.storeSearcher(other, ranks, pages.base, fetchOther).searcher;
  return { docs, companion, whole, inPieces, list, fetched, head: head.head, stored, fresh, fetch, over };
}

// The companion data of every document from its pieces: titles, summaries, base and
// text places, as companionData gives them from indexed_pages.js of format 1.
function everyDocument(S, head, base, readPiece) {
  const all = new S.DocumentPieces(head, base, (name, done) => done(readPiece(name)));
  all.ensure(Array.from({ length: head.count }, (_, d) => d), () => {});
  return all.companion;
}

// The companion data of the index in dir for its docs, whatever the format of its
// indexed_pages.js (pages, as that file sets it).
export function companionOf(S, dir, pages, docs) {
  if (!pages || pages.format !== 2) return S.companionData(pages, docs);
  const readPiece = (name) => {
    const piece = {};
    piece.vantrelWordsHead = piece.vantrelDocs = piece.vantrelNames = (data) => { piece.data = data; };
    vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_text', name), 'utf8'), piece);
    return piece.data;
  };
  const head = S.storeHeadData(readPiece(pages.top || pages.words), pages);
  return head.state === 'ok' ? everyDocument(S, head.head, pages.base, readPiece) : { state: head.state };
}

// The answers of a search over pieces fetched at once: [first results, complete answer].
export function searchAll(S, searcher, query) {
  const shown = [];
  S.searchInPieces(searcher, query, (result, complete) => shown.push({ docs: result.docs.slice(), complete }), () => true);
  return shown;
}
