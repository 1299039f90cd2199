#pragma once

#include <QByteArray>
#include <QtGlobal>

// A large captured chat page in the chat site's markup, for benchmarks: several day groups of
// user questions and bot answers (paragraphs, emphasis, inline code, links, lists, quotes,
// Python code blocks, tables, images) wrapped in the site's page furniture (sidebars, navbar,
// action bars, follow-up actions, footer, scripts and styles).
//
// The page is the same for the same arguments. It grows by whole messages until it reaches
// `targetBytes` (so it ends a little above it) and holds exactly `imageAttachments` images,
// spread over the bot answers, each at its own address "https://…/img-N.png" (N from 1), so
// each image is one download.
QByteArray generateChatPage(qint64 targetBytes, int imageAttachments);
