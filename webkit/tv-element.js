// Injected by the extension into every page of an allowed origin, before the
// page's own scripts: gives each <embed type="application/tv"> and
// <object type="application/tv"> the TV's methods and OnEvent, backed by a
// plug-in instance that lives while the element is in the document.
// Called once with the extension's natives and the method list (generated
// from types/tv-api.json); the page never sees either.
(function (natives, methods) {
  'use strict';
  const TYPE = 'application/tv';
  const live = new Map();  // element -> the plug-in's script object
  const guarded = new WeakMap();  // a handler's guard -> the page's function
  const defineProperty = Object.defineProperty;
  const arrayFrom = Array.from;
  const apply = Reflect.apply;

  function isTV(node) {
    return node.nodeType === 1 && (node.localName === 'embed' || node.localName === 'object') &&
      String(node.getAttribute('type') || '').trim().toLowerCase() === TYPE;
  }

  function attach(element) {
    if (live.has(element) || !element.isConnected) return;
    const names = [], values = [];
    for (const a of arrayFrom(element.attributes)) {
      names.push(a.name);
      values.push(a.value);
    }
    const object = natives.create(names, values, element);
    if (!object) return;  // NPP_New failed: the element stays plain (said on stderr)
    live.set(element, object);
    for (const name of methods) {
      defineProperty(element, name, { value: object[name], configurable: true, writable: true });
    }
    // A function handler reaches the plug-in inside a guard that checks,
    // at each call, that the element is still in the document: one that
    // left it (removed by a handler, say) has no handler run again, and its
    // instance ends before its next event (natives.gone). The page reads
    // back its own function.
    defineProperty(element, 'OnEvent', {
      configurable: true,
      get() {
        const stored = object.OnEvent;
        return (typeof stored === 'function' && guarded.get(stored)) || stored;
      },
      set(value) {
        if (typeof value !== 'function') { object.OnEvent = value; return; }
        const guard = function () {
          if (!element.isConnected) { natives.gone(object); return undefined; }
          return apply(value, this, arguments);
        };
        guarded.set(guard, value);
        object.OnEvent = guard;
      },
    });
  }

  function detach(element) {
    const object = live.get(element);
    if (!object) return;
    live.delete(element);
    for (const name of methods) delete element[name];
    delete element.OnEvent;
    natives.destroy(object);
  }

  // Open shadow roots are looked into and watched like the document; closed
  // ones are out of reach (their host's shadowRoot is null).
  const watched = new WeakSet();
  let shadows = false;  // whether any open shadow root was seen

  function watch(root) {
    if (watched.has(root)) return;
    watched.add(root);
    shadows = true;
    observer.observe(root, OBSERVED);
    scan(root);
  }

  function scan(root) {
    if (root.nodeType !== 1 && root.nodeType !== 9 && root.nodeType !== 11) return;
    if (isTV(root)) attach(root);
    if (root.shadowRoot) watch(root.shadowRoot);
    if (root.querySelectorAll) {
      for (const e of arrayFrom(root.querySelectorAll('embed, object'))) if (isTV(e)) attach(e);
      if (shadows || root.nodeType === 9) {
        for (const e of arrayFrom(root.querySelectorAll('*'))) if (e.shadowRoot) watch(e.shadowRoot);
      }
    }
  }

  function sweep() {
    for (const element of arrayFrom(live.keys())) {
      if (!element.isConnected || !isTV(element)) detach(element);
    }
  }

  const observer = new MutationObserver(function (records) {
    let removed = false;
    for (const r of records) {
      if (r.type === 'attributes') {
        if (isTV(r.target)) attach(r.target); else removed = true;
      } else {
        if (r.removedNodes.length) removed = true;
        for (const n of r.addedNodes) scan(n);
      }
    }
    if (removed) sweep();
  });
  const OBSERVED = { childList: true, subtree: true, attributes: true, attributeFilter: ['type'] };
  observer.observe(document, OBSERVED);
  // A shadow root made after its host was scanned is watched from its start.
  const attachShadowNative = Element.prototype.attachShadow;
  defineProperty(Element.prototype, 'attachShadow', {
    configurable: true, writable: true,
    value: function attachShadow(init) {
      const root = apply(attachShadowNative, this, arguments);
      if (this.shadowRoot === root) watch(root);
      return root;
    },
  });

  // An element touched by script before the observer saw it (added and used
  // in the same task) comes to life right then, as a plug-in element does.
  for (const proto of [HTMLEmbedElement.prototype, HTMLObjectElement.prototype]) {
    for (const name of methods.concat(['OnEvent'])) {
      defineProperty(proto, name, {
        configurable: true,
        get() {
          if (!isTV(this) || live.has(this) || !this.isConnected) return undefined;
          attach(this);
          return live.has(this) ? this[name] : undefined;
        },
        set(value) {
          if (isTV(this) && !live.has(this)) attach(this);
          if (live.has(this)) {
            this[name] = value;
          } else {
            defineProperty(this, name, { value: value, writable: true, configurable: true,
                                         enumerable: true });
          }
        },
      });
    }
  }

  // The extension's own tests (and only they) reach the plug-in's object
  // itself, e.g. a probe plug-in's methods that are not the TV's.
  if (natives.testing) {
    window.nptvProbeObject = function (element) { attach(element); return live.get(element); };
  }

  addEventListener('DOMContentLoaded', function () { scan(document); }, true);
  // Leaving the page ends every instance; a page restored from the
  // back/forward cache gets new ones.
  addEventListener('pagehide', function () {
    for (const element of arrayFrom(live.keys())) detach(element);
  }, true);
  addEventListener('pageshow', function (e) { if (e.persisted) scan(document); }, true);
})
