// Starts `brindle lsp` for .brindle files. The command and its arguments come
// from the settings brindle.server.command and brindle.server.args; the
// language server does the rest (diagnostics, hover, navigation, completion,
// formatting). Plain JavaScript, so the folder works as it is once
// `npm install` has fetched vscode-languageclient.
"use strict";

const vscode = require("vscode");

let client;

async function activate(context) {
  const settings = vscode.workspace.getConfiguration("brindle.server");
  if (!settings.get("enabled", true)) {
    return;
  }
  let languageclient;
  try {
    languageclient = require("vscode-languageclient/node");
  } catch (error) {
    vscode.window.showWarningMessage(
      "brindle: run `npm install` in the extension folder to enable the language server (highlighting works without it)."
    );
    return;
  }
  const server = {
    command: settings.get("command", "brindle"),
    args: settings.get("args", ["lsp"]),
    transport: languageclient.TransportKind.stdio,
  };
  client = new languageclient.LanguageClient(
    "brindle",
    "brindle language server",
    { run: server, debug: server },
    { documentSelector: [{ language: "brindle" }] }
  );
  context.subscriptions.push(
    vscode.workspace.onDidChangeConfiguration((event) => {
      if (event.affectsConfiguration("brindle.server")) {
        vscode.window.showInformationMessage("brindle: reload the window to apply the new server settings.");
      }
    })
  );
  await client.start();
}

async function deactivate() {
  if (client) {
    await client.stop();
  }
}

module.exports = { activate, deactivate };
