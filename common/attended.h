#pragma once

// Whether someone can answer a window that this run shows: its process is in
// an interactive session (not session 0, where services and the deployment
// tools that run as the local system account are) and its window station is
// visible (WSF_VISIBLE; a service's, or one made for a run that no one
// watches, is not). Where either cannot be read, no one can: a run that
// cannot tell never waits on a window.
bool SomeoneCanAnswer();
