# A trial layout of the first screen's display data, composed into a copy of an index
# made by the program, for measuring the page against the index as written:
#   python3 bench/screen-pieces-trial.py INDEX_DIR COPY_DIR [PAGES_A_KEY]
# For each word shard of the head, one piece (vantrelScreens) with the document entries
# (as the document pieces give them, the page number first) of every page that one of
# the shard's keys lists among its first PAGES_A_KEY (default 20) pages, or among the 10
# of shortest title that its title entry lists, or the first 10 its file-name entry
# lists; the head gains "screens", the names of those pieces in the order of its shards,
# and is written under a new name that indexed_pages.js then gives. The copy needs the
# page of the commit that reads "screens"; the program itself does not write them.
import json, os, sys, shutil, hashlib, base64, re
src, dst, K = sys.argv[1], sys.argv[2], int(sys.argv[3])
if os.path.exists(dst): shutil.rmtree(dst)
shutil.copytree(src, dst)
T = os.path.join(dst, 'indexed_text')
def load(f):
    t = open(os.path.join(T, f), encoding='utf-8').read(); return json.loads(t[t.index('(') + 1:t.rindex(')')])
pages = open(os.path.join(dst, 'indexed_pages.js')).read()
headname = re.search(r'"words":"([a-z2-7]{13}\.js)"', pages).group(1)
h = load(headname)
entries = [None] * h['count']
for p, name in enumerate(h['docs']):
    for i, e in enumerate(load(name)): entries[p * h['docGroup'] + i] = e
def name_of(text):
    return base64.b32encode(hashlib.sha256(text.encode()).digest()).decode().lower()[:13] + '.js'
screens = []; total = 0
for e in h['shards']:
    d = load(e[1]); s = set()
    for w in d['words']: s.update(w[1:1 + K])
    for x in d.get('titles', []):
        p = sorted(zip(x[2::2], x[3::2]), key=lambda p: p[1]); s.update(q[0] for q in p[:10])
    for x in d.get('names', []): s.update(x[1::3][:10])
    text = '/* generator: VantrelIndexer */\nvantrelScreens([' + ',\n'.join(json.dumps([q] + entries[q], ensure_ascii=False, separators=(',', ':')) for q in sorted(s)) + ']);\n'
    n = name_of(text); open(os.path.join(T, n), 'w', encoding='utf-8').write(text); total += len(text.encode()); screens.append(n)
h['screens'] = screens
text = '/* generator: VantrelIndexer */\nvantrelWordsHead(' + json.dumps(h, ensure_ascii=False, separators=(',', ':')) + ');\n'
n = name_of(text); open(os.path.join(T, n), 'w', encoding='utf-8').write(text)
open(os.path.join(dst, 'indexed_pages.js'), 'w').write(pages.replace(headname, n))
print('screens', len(screens), total, 'head', len(text))
