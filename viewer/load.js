/* Loading documents: from the page's address (?data= and &base=), from files chosen or dropped,
 * and from a document embedded in the page itself (a self-contained report). Every path ends in
 * model.js's tree or a LoadError whose message says what went wrong, in words for the user.
 *
 * A document named in the address must be a relative path that stays on the page's own origin:
 * the page is often served from a shared site (a CI artifact store, an intranet), where a link
 * naming another host, a data: or javascript: URL would run a stranger's code in the site's
 * origin. Over http(s) the document is fetched and parsed as JSON, never run; only from file://,
 * where fetch cannot read files, is it loaded through a script element.
 */
(function (global) {
  'use strict';

  class LoadError extends Error {}

  // What the URL parser drops before it parses: a path check must see what the parser sees.
  const STRIPPED_RE = /^[\u0000-\u0020]+|[\u0000-\u0020]+$/g;
  const INNER_DROPPED_RE = /[\t\n\r]/g;
  const SCHEME_RE = /^[a-z][a-z0-9+.-]*:/i;

  // `value` as given in the address, `pageHref` the page's own URL. Returns { url } with the
  // resolved URL to load, or { error } saying why nothing is loaded.
  function checkDocumentPath(value, pageHref) {
    const cleaned = String(value).replace(STRIPPED_RE, '').replace(INNER_DROPPED_RE, '');
    const refuse = (why) => ({
      error: '"' + value + '" is not loaded: ' + why + '. ?data= and &base= accept only a path relative to this page ' +
        '(such as ../out/sample.json), on the same site.',
    });
    if (!cleaned) return refuse('it is empty');
    if (SCHEME_RE.test(cleaned)) return refuse('it names a scheme (' + cleaned.slice(0, cleaned.indexOf(':') + 1) + ')');
    if (cleaned.includes('\\')) return refuse('it holds a backslash, which browsers may read as "/"');
    if (cleaned.startsWith('/')) return refuse('it begins with "/"');
    let url;
    let page;
    try {
      page = new URL(pageHref);
      url = new URL(cleaned, page);
    } catch (e) {
      return refuse('it is not a valid path');
    }
    if (url.protocol !== page.protocol || url.host !== page.host || (page.protocol !== 'file:' && url.origin !== page.origin)) {
      return refuse('it leads to another site');
    }
    return { url: url.href };
  }

  function isHttp() {
    return location.protocol === 'http:' || location.protocol === 'https:';
  }

  function modelFrom(data, label) {
    try {
      return VorlithModel.buildModel(data);
    } catch (e) {
      if (e instanceof VorlithModel.DocumentError) throw new LoadError('"' + label + '" is not a valid vorlith document: ' + e.message + '.');
      throw e;
    }
  }

  function modelFromText(text, label) {
    let data;
    try {
      data = VorlithModel.parseDocumentText(text);
    } catch (e) {
      if (e instanceof VorlithModel.DocumentError) throw new LoadError('"' + label + '" is not a valid vorlith document: ' + e.message + '.');
      throw e;
    }
    return modelFrom(data, label);
  }

  async function fetchDocument(url, label) {
    let response;
    try {
      response = await fetch(url, { credentials: 'same-origin' });
    } catch (e) {
      throw new LoadError('Could not load "' + label + '": ' + e.message + '.');
    }
    if (!response.ok) throw new LoadError('Could not load "' + label + '": the server answered ' + response.status + ' ' + response.statusText + '.');
    return modelFromText(await response.text(), label);
  }

  // The script parser of the browser gives up on deeply nested literals (about a thousand
  // levels) with a stack overflow; that is the cause to report, not the missing treeData.
  const STACK_RE = /call stack|too much recursion/i;

  // Runs one at a time because every document assigns the same global.
  function scriptDocument(url, label) {
    return new Promise((resolve, reject) => {
      window.treeData = undefined;
      const script = document.createElement('script');
      let scriptError = null;
      // Documents load one at a time, so an error while this one runs is its own; its
      // filename is not to be trusted (a stack overflow while parsing names the page).
      const onError = (e) => {
        if (!scriptError) scriptError = e.message;
      };
      window.addEventListener('error', onError);
      const done = () => {
        window.removeEventListener('error', onError);
        script.remove();
      };
      script.onload = () => {
        done();
        const data = window.treeData;
        window.treeData = undefined;
        if (data !== undefined) {
          try {
            resolve(modelFrom(data, label));
          } catch (e) {
            reject(e);
          }
        } else if (scriptError && STACK_RE.test(scriptError)) {
          reject(new LoadError('"' + label + '" is nested too deeply for the browser\'s script parser (' + scriptError +
            '). Open it with "Open document" or drop it onto the page instead: read that way, a document of any depth opens.'));
        } else {
          reject(new LoadError('"' + label + '" is not a vorlith document: it does not assign treeData' +
            (scriptError ? ' (' + scriptError + ')' : '') + '. A document begins with "var treeData = " followed by JSON.'));
        }
      };
      script.onerror = () => {
        done();
        reject(new LoadError('Could not load "' + label + '": the file is missing or cannot be read.'));
      };
      script.src = url;
      document.head.appendChild(script);
    });
  }

  // A document named in the address, as given there.
  async function loadFromAddress(value) {
    const checked = checkDocumentPath(value, location.href);
    if (checked.error) throw new LoadError(checked.error);
    return isHttp() ? fetchDocument(checked.url, value) : scriptDocument(checked.url, value);
  }

  async function readFile(file) {
    return modelFromText(await file.text(), file.name);
  }

  // { root, name } of the element, or null when the page holds no such element.
  function embedded(id) {
    const el = document.getElementById(id);
    if (!el) return null;
    const name = el.dataset.name || id;
    let data;
    try {
      data = JSON.parse(el.textContent);
    } catch (e) {
      throw new LoadError('The document embedded in this page ("' + name + '") is not valid JSON (' + e.message + ').');
    }
    const twice = VorlithModel.memberGivenTwice(el.textContent);
    if (twice !== null) {
      throw new LoadError('The document embedded in this page ("' + name + '") is not a valid vorlith document: the member "' +
        twice + '" is twice in one object.');
    }
    return { root: modelFrom(data, name), name };
  }

  const api = { LoadError, checkDocumentPath, loadFromAddress, readFile, embedded };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else global.VorlithLoad = api;
})(typeof globalThis !== 'undefined' ? globalThis : this);
