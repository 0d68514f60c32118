'use strict';

/** A mistake in what was asked for (as opposed to a run that failed): the command exits with 2. */
class UsageError extends Error {}

module.exports = { UsageError };
