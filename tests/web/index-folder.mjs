// An index folder as the search page reads it, in Node: the documents, the companion
// data and two searchers over the same word index, one over indexed_terms.js whole and
// one over its pieces in the store (fetched from disk as asked, each fetch counted),
// and the complete answer of a search over the pieces.
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';

export function loadFolder(S, dir) {
  const box = {};
  vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_docs.js'), 'latin1'), box);
  for (const f of ['indexed_pages.js', 'indexed_terms.js']) vm.runInNewContext(fs.readFileSync(path.join(dir, f), 'utf8'), box);
  const { docs, pages, terms } = box;
  const companion = S.companionData(pages, docs);
  const summaries = S.summaryWords(companion.summaries, docs.length, true);
  const fetched = [];
  const readPiece = (name) => {
    fetched.push(name);
    const piece = { };
    piece.vantrelWords = piece.vantrelKeys = piece.vantrelLinks = piece.vantrelWordsHead = (data) => { piece.data = data; };
    vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_text', name), 'utf8'), piece);
    return piece.data;
  };
  const head = S.headData(readPiece(pages.words), docs);
  if (head.state !== 'ok') throw new Error(`${dir}: the head of the word index is ${head.state}`);
  const list = new S.WordPieces(head.head, docs.length, (name, done) => done(readPiece(name)));
  const whole = new S.Searcher(docs, null, { terms: S.termsData(terms, docs), realTitles: companion.titles });
  const inPieces = new S.Searcher(docs, null, { terms: { list, links: list.links }, realTitles: companion.titles });
  for (const searcher of [whole, inPieces]) searcher.useSummaries(summaries);
  return { docs, companion, whole, inPieces, list, fetched };
}

// The answers of a search over pieces fetched at once: [first results, complete answer].
export function searchAll(S, searcher, query) {
  const shown = [];
  S.searchInPieces(searcher, query, (result, complete) => shown.push({ docs: result.docs.slice(), complete }), () => true);
  return shown;
}
